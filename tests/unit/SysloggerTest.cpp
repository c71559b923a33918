#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Dom.h"
#include "core/Snprintfcat.h"
#include "core/SyslogSettings.h"
#include "core/SyslogTransport.h"
#include "core/Syslogger.h"
#include "tests/unit/LoopbackTcpSink.h"
#include "tests/unit/LoopbackUdpSink.h"
#include "tests/unit/RsyslogDaemon.h"
#include "tests/unit/SyslogTestSupport.h"
#include "tests/unit/TempDir.h"

using KvoCore::CDom;
using KvoCore::CSyslogger;
using KvoCore::CSyslogSettings;
using KvoCore::snprintfcat;

using KvoTest::HostName;
using KvoTest::kCafe;
using KvoTest::kJapan;
using KvoTest::WaitUntilPeerClosed;

namespace {

std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

// The fields of one RFC 5424 message as it arrived.
struct Rfc5424 {
    std::string pri, version, timestamp, hostname, appName, procId, msgId, structuredData, msg;
};

bool ParseRfc5424(const std::string& text, Rfc5424& out) {
    if (text.empty() || text[0] != '<') return false;
    const size_t close = text.find('>');
    if (close == std::string::npos) return false;
    out.pri = text.substr(1, close - 1);
    std::string* fields[] = {&out.version,  &out.timestamp, &out.hostname,       &out.appName,
                             &out.procId,   &out.msgId,     &out.structuredData};
    size_t at = close + 1;
    for (std::string* field : fields) {
        const size_t blank = text.find(' ', at);
        if (blank == std::string::npos) return false;
        *field = text.substr(at, blank - at);
        at = blank + 1;
    }
    out.msg = text.substr(at);
    return true;
}

std::string SyslogElement(const std::string& server, int port, const std::string& protocol,
                          const std::string& extra = std::string()) {
    return "<Syslog server=\"" + server + "\" port=\"" + std::to_string(port) + "\" protocol=\"" + protocol +
           "\"" + extra + "/>";
}

// An agent whose configuration file holds a given Syslog element.
class SysloggerTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (CDom::This()) CDom::Destroy();
    }

    void StartAgent(const std::string& syslogElement) {
        WriteConfig(syslogElement);
        wxString error;
        ASSERT_TRUE(CDom::Create({wxString(m_dir.file("work")), wxString(m_dir.file("config.xml"))}, error))
            << error;
        m_dom = CDom::This();
    }

    void Reconfigure(const std::string& syslogElement) {
        WriteConfig(syslogElement);
        wxString error;
        ASSERT_TRUE(m_dom->ConfigReload(error)) << error;
    }

    size_t CountInLog(const std::string& text) const {
        std::ifstream in(m_dir.file("work/kvo-agent.log"));
        std::stringstream content;
        content << in.rdbuf();
        const std::string log = content.str();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        return count;
    }

    TempDir m_dir;
    CDom* m_dom = nullptr;

private:
    void WriteConfig(const std::string& syslogElement) {
        std::ofstream(m_dir.file("config.xml")) << "<SecurityConfiguration>" << syslogElement
                                                << "</SecurityConfiguration>\n";
    }
};

}  // namespace

// --- CEF escaping ---

TEST(CefEscaping, PrefixFieldsAndExtensionValues) {
    // Prefix fields escape only pipes and fold line ends to blanks; extension
    // values escape only equals signs and keep line ends as escapes.
    const struct {
        bool extension;
        std::string text, escaped;
    } cases[] = {
        {false, "plain text", "plain text"}, {false, "a|b", "a\\|b"}, {false, "back\\slash", "back\\\\slash"},
        {false, "\\|", "\\\\\\|"}, {false, "key=value", "key=value"}, {false, "one\ntwo", "one two"},
        {false, "one\rtwo", "one two"}, {false, "one\r\ntwo", "one two"}, {false, "one\n\ntwo", "one  two"},
        {false, "line end\n", "line end "}, {false, std::string(kCafe) + "|" + kJapan, std::string(kCafe) + "\\|" + kJapan},
        {true, "/etc/passwd", "/etc/passwd"}, {true, "a=b", "a\\=b"}, {true, "back\\slash", "back\\\\slash"},
        {true, "\\=", "\\\\\\="}, {true, "pipe|stays", "pipe|stays"}, {true, "one\ntwo", "one\\ntwo"},
        {true, "one\rtwo", "one\\rtwo"}, {true, "one\r\ntwo", "one\\r\\ntwo"}, {true, "ends with =", "ends with \\="},
        {true, std::string("/home/") + kCafe + "/" + kJapan + "=x", std::string("/home/") + kCafe + "/" + kJapan + "\\=x"},
    };
    for (const auto& c : cases) {
        const wxString text = wxString::FromUTF8(c.text.c_str());
        EXPECT_EQ(c.escaped, Utf8(c.extension ? CSyslogger::EscapeCEFExtension(text) : CSyslogger::EscapeCEFPrefix(text)))
            << c.text;
    }
}

// --- snprintfcat ---

TEST(Snprintfcat, AppendsFormattedText) {
    char buffer[64] = "CEF:0|";
    EXPECT_TRUE(snprintfcat(buffer, sizeof buffer, "%ld|%.3s|%d|", 1002L, "abcdef", 6));
    EXPECT_STREQ("CEF:0|1002|abc|6|", buffer);
    EXPECT_TRUE(snprintfcat(buffer, sizeof buffer, "%s", ""));
    EXPECT_STREQ("CEF:0|1002|abc|6|", buffer);
}

TEST(Snprintfcat, NeverOverflowsAndAlwaysTerminates) {
    const struct {
        const char* start;
        const char* appended;
        const char* result;  // within a buffer of 8 bytes
        bool fits;
    } cases[] = {
        {"", "1234567", "1234567", true},
        {"", "12345678", "1234567", false},
        {"abc", "defghijk", "abcdefg", false},
        {"abcdefg", "h", "abcdefg", false},
        // a two-byte character that would straddle the end is left out whole
        {"abcdef", "\xc3\xa9", "abcdef", false},
        {"abcde", "\xc3\xa9", "abcde\xc3\xa9", true},
        {"abcd", "\xe6\x97\xa5\xe6\x9c\xac", "abcd\xe6\x97\xa5", false},
        {"abcde", "\xe6\x97\xa5\xe6\x9c\xac", "abcde", false},
        {"a", "\xe6\x97\xa5\xe6\x9c\xac", "a\xe6\x97\xa5\xe6\x9c\xac", true},
    };
    for (const auto& c : cases) {
        char memory[16];
        memset(memory, '#', sizeof memory);
        strcpy(memory, c.start);
        EXPECT_EQ(c.fits, snprintfcat(memory, 8, "%s", c.appended)) << c.start << " + " << c.appended;
        EXPECT_STREQ(c.result, memory) << c.start << " + " << c.appended;
        for (size_t i = 8; i < sizeof memory; ++i) EXPECT_EQ('#', memory[i]) << "wrote past the buffer";
    }
}

TEST(Snprintfcat, UnterminatedOrEmptyBufferIsFull) {
    char memory[8];
    memset(memory, 'x', sizeof memory);
    EXPECT_FALSE(snprintfcat(memory, 4, "%s", "more"));
    EXPECT_STREQ("xxx", memory);
    EXPECT_EQ('x', memory[4]);
    EXPECT_FALSE(snprintfcat(memory, 0, "%s", "more"));
    EXPECT_EQ('x', memory[4]);
}

// --- configuration ---

TEST(SyslogSettings, AttributesAreCheckedAndDefaulted) {
    using Protocol = CSyslogSettings::Protocol;
    const struct {
        CSyslogSettings::Texts texts;
        bool accepted, enabled, destination;
        int port;
        Protocol protocol;
        int format, facility;
        const char* errorMentions;  // attribute and value named in the error
    } cases[] = {
        {{}, true, false, false, 514, Protocol::Udp, 2, 16, nullptr},
        {{{"server", "collector"}}, true, true, true, 514, Protocol::Udp, 2, 16, nullptr},
        {{{"server", " 10.0.0.5 "}, {"port", "6514"}, {"protocol", "TCP"}, {"format", "1"}, {"facility", "0"}},
         true, true, true, 6514, Protocol::Tcp, 1, 0, nullptr},
        {{{"server", "::1"}, {"port", "65535"}, {"protocol", "udp"}, {"format", "0"}, {"facility", "23"}},
         true, true, true, 65535, Protocol::Udp, 0, 23, nullptr},
        {{{"format", "3"}}, true, true, false, 514, Protocol::Udp, 3, 16, nullptr},
        {{{"server", ""}}, true, true, false, 514, Protocol::Udp, 2, 16, nullptr},
        {{{"server", "collector"}, {"port", "0"}}, false, false, false, 514, Protocol::Udp, 2, 16, "port"},
        {{{"server", "collector"}, {"port", "65536"}}, false, false, false, 514, Protocol::Udp, 2, 16, "65536"},
        {{{"server", "collector"}, {"port", "51 4"}}, false, false, false, 514, Protocol::Udp, 2, 16, "51 4"},
        {{{"server", "collector"}, {"port", "syslog"}}, false, false, false, 514, Protocol::Udp, 2, 16, "syslog"},
        {{{"server", "collector"}, {"protocol", "tls"}}, false, false, false, 514, Protocol::Udp, 2, 16, "tls"},
        {{{"server", "collector"}, {"facility", "24"}}, false, false, false, 514, Protocol::Udp, 2, 16, "facility"},
        {{{"server", "collector"}, {"facility", "-1"}}, false, false, false, 514, Protocol::Udp, 2, 16, "-1"},
        {{{"server", "collector"}, {"format", "two"}}, false, false, false, 514, Protocol::Udp, 2, 16, "two"},
        {{{"server", "collector"}, {"format", "-2"}}, false, false, false, 514, Protocol::Udp, 2, 16, "format"},
        {{{"server", "two hosts"}}, false, false, false, 514, Protocol::Udp, 2, 16, "two hosts"},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const auto& t : c.texts) label += Utf8(t.first) + "=\"" + Utf8(t.second) + "\" ";
        CSyslogSettings settings;
        wxString error;
        EXPECT_EQ(c.accepted, settings.Parse(c.texts, error)) << label;
        EXPECT_EQ(c.enabled, settings.IsEnabled()) << label;
        EXPECT_EQ(c.destination, settings.HasDestination()) << label;
        if (c.errorMentions) {
            EXPECT_NE(wxNOT_FOUND, error.Find(c.errorMentions)) << label << ": " << error;
            continue;
        }
        EXPECT_TRUE(error.empty()) << label << ": " << error;
        EXPECT_EQ(c.port, settings.GetPort()) << label;
        EXPECT_EQ(c.protocol, settings.GetProtocol()) << label;
        EXPECT_EQ(c.format, settings.GetFormatLevel()) << label;
        EXPECT_EQ(c.facility, settings.GetFacility()) << label;
    }
}

TEST(SyslogSettings, OnlyServerPortAndProtocolMakeTheDestination) {
    const CSyslogSettings::Texts base = {{"server", "collector"}, {"port", "514"}, {"protocol", "udp"}};
    const struct {
        const char* attribute;
        const char* value;
        bool same;
    } cases[] = {
        {"format", "0", true},     {"facility", "3", true},  {"server", "other", false},
        {"port", "515", false},    {"protocol", "tcp", false},
    };
    CSyslogSettings before;
    wxString error;
    ASSERT_TRUE(before.Parse(base, error)) << error;
    for (const auto& c : cases) {
        CSyslogSettings::Texts texts = base;
        texts[c.attribute] = c.value;
        CSyslogSettings after;
        ASSERT_TRUE(after.Parse(texts, error)) << error;
        EXPECT_EQ(c.same, before.SameDestination(after)) << c.attribute << "=" << c.value;
    }
    CSyslogSettings off;
    EXPECT_FALSE(before.SameDestination(off));
}

TEST_F(SysloggerTest, WithoutServerNothingIsSent) {
    for (bool element : {false, true}) {
        SCOPED_TRACE(element ? "Syslog element without server" : "no Syslog element");
        if (CDom::This()) CDom::Destroy();
        StartAgent(element ? "<Syslog format=\"1\" facility=\"4\"/>"
                           : "<AgentConfiguration systemIntegrityEventMode=\"1\"/>");
        CSyslogger syslogger(*m_dom, "integrity");
        EXPECT_EQ(element, syslogger.IsEnabled());
        if (element) {
            EXPECT_EQ(1, syslogger.GetFormatLevel());
        }
        EXPECT_FALSE(syslogger.HasDestination());
        EXPECT_FALSE(syslogger.Open());
        errno = 0;
        EXPECT_FALSE(syslogger.Send("CEF:0|x", 0));
        EXPECT_EQ(EDESTADDRREQ, errno);
    }
}

TEST_F(SysloggerTest, InvalidValueTurnsSyslogOffOnceLogged) {
    LoopbackUdpSink sink;
    ASSERT_NE(0, sink.Port());
    StartAgent(SyslogElement("127.0.0.1", sink.Port(), "udp"));
    CSyslogger syslogger(*m_dom, "integrity");
    ASSERT_TRUE(syslogger.Send("before", 0));
    std::string datagram;
    ASSERT_TRUE(sink.Receive(datagram));

    Reconfigure(SyslogElement("127.0.0.1", sink.Port(), "carrier-pigeon"));
    for (int i = 0; i < 3; ++i) syslogger.UpdateConfig();
    EXPECT_FALSE(syslogger.IsEnabled());
    EXPECT_FALSE(syslogger.Send("while invalid", 0));
    EXPECT_FALSE(sink.Pending()) << "a line went out with an invalid configuration";
    EXPECT_EQ(1u, CountInLog("attribute protocol of /SecurityConfiguration/Syslog has the invalid value "
                             "\"carrier-pigeon\""));

    Reconfigure(SyslogElement("127.0.0.1", sink.Port(), "udp"));
    syslogger.UpdateConfig();
    EXPECT_TRUE(syslogger.Send("after", 0));
    ASSERT_TRUE(sink.Receive(datagram));
    EXPECT_NE(std::string::npos, datagram.find(" - after"));
}

TEST_F(SysloggerTest, ReloadMovesTheConnectionOnlyWhenTheDestinationChanged) {
    LoopbackTcpSink first, second;
    ASSERT_NE(0, first.Port());
    ASSERT_NE(0, second.Port());
    StartAgent(SyslogElement("127.0.0.1", first.Port(), "tcp"));
    CSyslogger syslogger(*m_dom, "integrity");
    std::string message, error;
    ASSERT_TRUE(syslogger.Send("one", 0));
    ASSERT_TRUE(first.NextMessage(message, error)) << error;

    Reconfigure(SyslogElement("127.0.0.1", first.Port(), "tcp", " format=\"1\""));
    syslogger.UpdateConfig();
    EXPECT_EQ(1, syslogger.GetFormatLevel());
    ASSERT_TRUE(syslogger.Send("two", 0));
    ASSERT_TRUE(first.NextMessage(message, error)) << error;
    EXPECT_EQ(1, first.Accepted()) << "a format change must not reconnect";

    Reconfigure(SyslogElement("127.0.0.1", second.Port(), "tcp"));
    syslogger.UpdateConfig();
    ASSERT_TRUE(syslogger.Send("three", 0));
    ASSERT_TRUE(second.NextMessage(message, error)) << error;
    Rfc5424 parsed;
    ASSERT_TRUE(ParseRfc5424(message, parsed)) << message;
    EXPECT_EQ("three", parsed.msg);
}

// --- framing on the wire ---

TEST_F(SysloggerTest, UdpDatagramIsOneRfc5424Message) {
    const struct {
        int facility;
        long time;
        const char* pri;
        const char* timestamp;
    } cases[] = {
        {16, 1700000000L, "133", "2023-11-14T22:13:20Z"},
        {0, 0L, "5", "1970-01-01T00:00:00Z"},
        {23, 951782400L, "189", "2000-02-29T00:00:00Z"},
        {4, 4102444799L, "37", "2099-12-31T23:59:59Z"},
    };
    LoopbackUdpSink sink;
    ASSERT_NE(0, sink.Port());
    StartAgent("");
    const std::string line = std::string("CEF:0|kvo|kvo-agent|0.1.0|1002|rule \\| x|6|dvchost=h act=updated filePath=/") +
                             kCafe + " msg=size,sha256";
    for (const auto& c : cases) {
        Reconfigure(SyslogElement("127.0.0.1", sink.Port(), "udp", " facility=\"" + std::to_string(c.facility) + "\""));
        CSyslogger syslogger(*m_dom, "integrity");
        ASSERT_TRUE(syslogger.Send(line.c_str(), c.time)) << strerror(errno);
        std::string datagram;
        ASSERT_TRUE(sink.Receive(datagram)) << "facility " << c.facility;
        Rfc5424 parsed;
        ASSERT_TRUE(ParseRfc5424(datagram, parsed)) << datagram;
        EXPECT_EQ(c.pri, parsed.pri);
        EXPECT_EQ("1", parsed.version);
        EXPECT_EQ(c.timestamp, parsed.timestamp);
        EXPECT_EQ(HostName(), parsed.hostname);
        EXPECT_EQ("kvo-agent", parsed.appName);
        EXPECT_EQ(std::to_string(getpid()), parsed.procId);
        EXPECT_EQ("integrity", parsed.msgId);
        EXPECT_EQ("-", parsed.structuredData);
        EXPECT_EQ(line, parsed.msg);
    }
}

TEST_F(SysloggerTest, UdpLineTooLongForADatagramIsCutAtACharacterBoundary) {
    LoopbackUdpSink sink;
    ASSERT_NE(0, sink.Port());
    StartAgent(SyslogElement("127.0.0.1", sink.Port(), "udp"));
    CSyslogger syslogger(*m_dom, "integrity");
    std::string line = "CEF:0|";
    while (line.size() < 70000) line += "\xc3\xa9";  // two bytes each, so some cut falls inside one
    for (int shift = 0; shift < 2; ++shift) {
        const std::string sent = line.substr(shift);
        ASSERT_TRUE(syslogger.Send(sent.c_str(), 0)) << strerror(errno);
        std::string datagram;
        ASSERT_TRUE(sink.Receive(datagram));
        EXPECT_LE(datagram.size(), KvoCore::CSyslogTransport::s_MaxUdpPayloadIPv4);
        EXPECT_GE(datagram.size(), KvoCore::CSyslogTransport::s_MaxUdpPayloadIPv4 - 1);
        Rfc5424 parsed;
        ASSERT_TRUE(ParseRfc5424(datagram, parsed));
        EXPECT_EQ(0u, sent.compare(0, parsed.msg.size(), parsed.msg)) << "the start of the line arrives";
        EXPECT_NE(0xC3, static_cast<unsigned char>(parsed.msg.back())) << "cut inside a character";
    }
}

TEST_F(SysloggerTest, UdpLineAfterTheServerRestartedArrives) {
    auto sink = std::make_unique<LoopbackUdpSink>();
    const int port = sink->Port();
    ASSERT_NE(0, port);
    StartAgent(SyslogElement("127.0.0.1", port, "udp"));
    CSyslogger syslogger(*m_dom, "integrity");
    sink.reset();
    // Unanswered: the "port unreachable" reply is left on the socket.
    syslogger.Send("while down", 0);
    sink = std::make_unique<LoopbackUdpSink>(port);
    ASSERT_EQ(port, sink->Port());
    EXPECT_TRUE(syslogger.Send("back up", 0)) << strerror(errno);
    std::string datagram;
    ASSERT_TRUE(sink->Receive(datagram));
    Rfc5424 parsed;
    ASSERT_TRUE(ParseRfc5424(datagram, parsed));
    EXPECT_EQ("back up", parsed.msg);
}

TEST_F(SysloggerTest, TcpFramesAreOctetCounted) {
    LoopbackTcpSink sink;
    ASSERT_NE(0, sink.Port());
    StartAgent(SyslogElement("127.0.0.1", sink.Port(), "tcp"));
    CSyslogger syslogger(*m_dom, "integrity");
    const std::vector<std::string> lines = {
        "CEF:0|first",
        std::string("CEF:0|") + kJapan + " " + kCafe + " counts bytes, not characters",
        "CEF:0|ends with digits 12 34",
        std::string(4000, 'x'),
    };
    for (const std::string& line : lines) ASSERT_TRUE(syslogger.Send(line.c_str(), 1700000000L)) << strerror(errno);
    for (const std::string& line : lines) {
        std::string message, error;
        ASSERT_TRUE(sink.NextMessage(message, error)) << error;
        Rfc5424 parsed;
        ASSERT_TRUE(ParseRfc5424(message, parsed)) << message;
        EXPECT_EQ("133", parsed.pri);
        EXPECT_EQ("2023-11-14T22:13:20Z", parsed.timestamp);
        EXPECT_EQ(line, parsed.msg);
    }
    EXPECT_EQ(1, sink.Accepted()) << "one connection carries every line";
}

TEST_F(SysloggerTest, TcpLineAfterTheServerClosedGoesOverANewConnection) {
    for (bool reset : {false, true}) {
        LoopbackTcpSink sink;
        ASSERT_NE(0, sink.Port());
        if (CDom::This()) CDom::Destroy();
        StartAgent(SyslogElement("127.0.0.1", sink.Port(), "tcp"));
        CSyslogger syslogger(*m_dom, "integrity");
        std::string message, error;
        ASSERT_TRUE(syslogger.Send("before", 0));
        ASSERT_TRUE(sink.NextMessage(message, error)) << error;
        const int clientPort = sink.PeerPort();
        sink.DropConnection(reset);
        ASSERT_TRUE(WaitUntilPeerClosed(clientPort)) << "the close never reached the sender";

        EXPECT_TRUE(syslogger.Send("after", 0)) << (reset ? "reset: " : "closed: ") << strerror(errno);
        ASSERT_TRUE(sink.NextMessage(message, error)) << error;
        Rfc5424 parsed;
        ASSERT_TRUE(ParseRfc5424(message, parsed)) << message;
        EXPECT_EQ("after", parsed.msg);
        EXPECT_EQ(2, sink.Accepted());
    }
}

TEST_F(SysloggerTest, UnreachableServerFailsWithErrnoLoggedOnceUntilItReturns) {
    auto sink = std::make_unique<LoopbackTcpSink>();
    const int port = sink->Port();
    ASSERT_NE(0, port);
    StartAgent(SyslogElement("127.0.0.1", port, "tcp"));
    CSyslogger syslogger(*m_dom, "integrity");
    std::string message, error;
    ASSERT_TRUE(syslogger.Send("before", 0));
    ASSERT_TRUE(sink->NextMessage(message, error)) << error;
    const int clientPort = sink->PeerPort();
    sink->StopListening();
    ASSERT_TRUE(WaitUntilPeerClosed(clientPort));

    for (int i = 0; i < 3; ++i) {
        errno = 0;
        EXPECT_FALSE(syslogger.Send("lost", 0));
        EXPECT_EQ(ECONNREFUSED, errno);
        EXPECT_FALSE(syslogger.Open());
    }
    EXPECT_EQ(1u, CountInLog("syslog: cannot connect to the syslog server tcp:127.0.0.1:" + std::to_string(port)));

    sink = std::make_unique<LoopbackTcpSink>(port);
    ASSERT_EQ(port, sink->Port());
    ASSERT_TRUE(syslogger.Send("back", 0)) << strerror(errno);
    ASSERT_TRUE(sink->NextMessage(message, error)) << error;
    EXPECT_EQ(1u, CountInLog("syslog: sending to tcp:127.0.0.1:" + std::to_string(port) + " again"));
}

TEST_F(SysloggerTest, TcpConnectGivesUpWhenTheServerNeverAnswers) {
    // A listener whose accept queue is full drops new connection requests.
    LoopbackTcpSink sink(0, 0);
    ASSERT_NE(0, sink.Port());
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(sink.Port()));
    ASSERT_EQ(0, connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address));

    StartAgent(SyslogElement("127.0.0.1", sink.Port(), "tcp"));
    CSyslogger syslogger(*m_dom, "integrity");
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_FALSE(syslogger.Open());
    EXPECT_EQ(ETIMEDOUT, errno);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    close(filler);
}

// --- CEF header and host identity ---

TEST_F(SysloggerTest, CefHeaderAndHostIdentity) {
    StartAgent("");
    CSyslogger syslogger(*m_dom, "integrity");
    char buffer[512] = "";
    EXPECT_TRUE(syslogger.AppendHeaderCEF(buffer, sizeof buffer));
    EXPECT_STREQ("CEF:0|kvo|kvo-agent|0.1.0|", buffer);
    EXPECT_TRUE(snprintfcat(buffer, sizeof buffer, "%d|%s|%d|", 1002, "rule", 6));

    const std::string host = Utf8(CSyslogger::EscapeCEFExtension(wxString::FromUTF8(HostName().c_str())));
    const std::string prefix = buffer;
    for (int level : {0, 1}) {
        buffer[prefix.size()] = '\0';
        EXPECT_TRUE(syslogger.AppendHostIdentityCEF(level, buffer, sizeof buffer));
        EXPECT_EQ(prefix + "dvchost=" + host, buffer) << "level " << level;
    }

    buffer[prefix.size()] = '\0';
    EXPECT_TRUE(syslogger.AppendHostIdentityCEF(2, buffer, sizeof buffer));
    const std::string identity = std::string(buffer).substr(prefix.size());
    std::vector<std::string> hostAddresses;
    struct ifaddrs* interfaces = nullptr;
    ASSERT_EQ(0, getifaddrs(&interfaces));
    for (const struct ifaddrs* i = interfaces; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK) ||
            !(i->ifa_flags & IFF_UP))
            continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        hostAddresses.push_back(text);
    }
    freeifaddrs(interfaces);
    if (hostAddresses.empty()) {
        EXPECT_EQ("dvchost=" + host, identity) << "no address to name";
    } else {
        const std::string dvc = " dvc=";
        ASSERT_EQ(0u, identity.find("dvchost=" + host + dvc)) << identity;
        const std::string address = identity.substr(("dvchost=" + host + dvc).size());
        EXPECT_NE(hostAddresses.end(), std::find(hostAddresses.begin(), hostAddresses.end(), address)) << address;
    }

    char small[12] = "CEF:0|";
    EXPECT_FALSE(syslogger.AppendHeaderCEF(small, sizeof small));
    EXPECT_STREQ("CEF:0|CEF:0", small);
}

// --- a real syslog server ---

class RsyslogTest : public SysloggerTest {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_daemon.Start(error)) << error;
    }
    void TearDown() override {
        EXPECT_TRUE(m_daemon.StopAndConfirmGone()) << "rsyslogd outlived its test";
        SysloggerTest::TearDown();
    }

    // Waits for the output line whose message is exactly line.
    void ExpectArrives(const std::string& line, const char* pri, const char* timestamp) {
        std::string found;
        ASSERT_TRUE(m_daemon.WaitForMessage(line, found))
            << "not received within the time-out: " << line.substr(0, 200);
        const std::string expected = std::string(pri) + "|" + timestamp + "|" + HostName() + "|kvo-agent|" +
                                     std::to_string(getpid()) + "|integrity|" + line;
        EXPECT_EQ(expected.size(), found.size());
        EXPECT_TRUE(expected == found) << found.substr(0, 300);
    }

    TempDir m_rsyslogDir;
    RsyslogDaemon m_daemon{m_rsyslogDir.path()};
};

TEST_F(RsyslogTest, UdpAndTcpLinesArriveWhole) {
    const std::string udpLine = std::string("CEF:0|kvo|kvo-agent|0.1.0|1002|rule \\| one|6|dvchost=h act=created "
                                            "suser=root filePath=/srv/") + kCafe + "/a\\=b udp";
    // A line of nearly 64 KiB, and one after it that must arrive too.
    std::string longLine = "CEF:0|kvo|kvo-agent|0.1.0|1002|rule|6|dvchost=h act=updated filePath=/x msg=";
    for (int i = 0; longLine.size() < 65528 - 20; ++i) longLine += "attribute" + std::to_string(i) + ",";
    longLine += kCafe;
    longLine.resize(65528, 'z');
    const std::vector<std::string> tcpLines = {
        "CEF:0|kvo|kvo-agent|0.1.0|30|rule|9|dvchost=h act=deleted fname=/etc/old tcp 1",
        std::string("CEF:0|kvo|kvo-agent|0.1.0|30|rule|9|dvchost=h act=renamed fname=/a -> /") + kJapan + " tcp 2",
        "CEF:0|kvo|kvo-agent|0.1.0|30|rule|9|dvchost=h act=updated filePath=/x msg=size,mtime tcp 3",
        longLine,
        "CEF:0|after the long one",
    };
    StartAgent(SyslogElement("127.0.0.1", m_daemon.UdpPort(), "udp"));
    {
        CSyslogger syslogger(*m_dom, "integrity");
        ASSERT_TRUE(syslogger.Send(udpLine.c_str(), 1700000000L)) << strerror(errno);
        ExpectArrives(udpLine, "133", "2023-11-14T22:13:20Z");
    }
    Reconfigure(SyslogElement("127.0.0.1", m_daemon.TcpPort(), "tcp", " facility=\"3\""));
    CSyslogger syslogger(*m_dom, "integrity");
    for (const std::string& line : tcpLines) ASSERT_TRUE(syslogger.Send(line.c_str(), 951782400L)) << strerror(errno);
    for (const std::string& line : tcpLines) ExpectArrives(line, "29", "2000-02-29T00:00:00Z");
}
