// What the syslogger does below the scanner: escaping, buffer bounds, settings,
// and the transport when the server misbehaves. Delivery of whole lines to a
// real rsyslog is tested end to end (tests/e2e/agent_syslog.sh).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/Dom.h"
#include "core/Snprintfcat.h"
#include "core/SyslogSettings.h"
#include "core/SyslogTransport.h"
#include "core/Syslogger.h"
#include "tests/unit/LoopbackTcpSink.h"
#include "tests/unit/LoopbackUdpSink.h"
#include "tests/unit/SyslogTestSupport.h"
#include "tests/unit/TempDir.h"

using KvoCore::CDom;
using KvoCore::CSyslogger;
using KvoCore::CSyslogSettings;
using KvoCore::snprintfcat;
using KvoTest::HostName;
using KvoTest::kCafe;
using KvoTest::kJapan;

namespace {

std::string Utf8(const wxString& text) { return std::string(text.utf8_str()); }

std::string SyslogElement(int port, const std::string& protocol, const std::string& extra = std::string()) {
    return "<Syslog server=\"127.0.0.1\" port=\"" + std::to_string(port) + "\" protocol=\"" + protocol + "\"" + extra +
           "/>";
}

// The message part of an RFC 5424 line without structured data.
std::string MessageOf(const std::string& line) {
    const size_t at = line.find(" - ");
    return at == std::string::npos ? "<not RFC 5424: " + line + ">" : line.substr(at + 3);
}

// An agent whose configuration file holds a given Syslog element.
class SysloggerTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (CDom::This()) CDom::Destroy();
    }
    void StartAgent(const std::string& syslogElement) {
        if (CDom::This()) CDom::Destroy();
        WriteConfig(syslogElement);
        wxString error;
        ASSERT_TRUE(CDom::Create({wxString(m_dir.file("work")), wxString(m_dir.file("config.xml"))}, error)) << error;
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

TEST(CefEscaping, PrefixFieldsAndExtensionValues) {
    // Prefix fields escape pipes and fold line ends to blanks; extension
    // values escape equals signs and keep line ends as escapes.
    const struct {
        bool extension;
        std::string text, escaped;
    } cases[] = {
        {false, "a|b", "a\\|b"},          {false, "back\\slash", "back\\\\slash"}, {false, "key=value", "key=value"},
        {false, "one\r\ntwo", "one two"}, {false, "one\n\ntwo", "one  two"},
        {false, std::string(kCafe) + "|" + kJapan, std::string(kCafe) + "\\|" + kJapan},
        {true, "a=b", "a\\=b"},           {true, "\\=", "\\\\\\="},                {true, "pipe|stays", "pipe|stays"},
        {true, "one\r\ntwo", "one\\r\\ntwo"},
    };
    for (const auto& c : cases) {
        const wxString text = wxString::FromUTF8(c.text.c_str());
        EXPECT_EQ(c.escaped, Utf8(c.extension ? CSyslogger::EscapeCEFExtension(text) : CSyslogger::EscapeCEFPrefix(text)))
            << c.text;
    }
}

TEST(Snprintfcat, NeverOverflowsNorSplitsACharacter) {
    const struct {
        const char* start;
        const char* appended;
        const char* result;  // within a buffer of 8 bytes
        bool fits;
    } cases[] = {
        {"", "1234567", "1234567", true},
        {"abc", "defghijk", "abcdefg", false},
        {"abcdef", "\xc3\xa9", "abcdef", false},
        {"abcde", "\xc3\xa9", "abcde\xc3\xa9", true},
        {"abcd", "\xe6\x97\xa5\xe6\x9c\xac", "abcd\xe6\x97\xa5", false},
    };
    for (const auto& c : cases) {
        char memory[16];
        memset(memory, '#', sizeof memory);
        strcpy(memory, c.start);
        EXPECT_EQ(c.fits, snprintfcat(memory, 8, "%s", c.appended)) << c.start << " + " << c.appended;
        EXPECT_STREQ(c.result, memory) << c.start << " + " << c.appended;
        for (size_t i = 8; i < sizeof memory; ++i) EXPECT_EQ('#', memory[i]) << "wrote past the buffer";
    }
    char unterminated[8];
    memset(unterminated, 'x', sizeof unterminated);
    EXPECT_FALSE(snprintfcat(unterminated, 4, "%s", "more"));
    EXPECT_FALSE(snprintfcat(unterminated, 0, "%s", "more"));
    EXPECT_EQ('x', unterminated[4]);
}

TEST(SyslogSettings, AttributesAreCheckedAndDefaulted) {
    // accepted, destination, port, protocol (1 tcp), format, facility; refused ones are off
    const std::pair<CSyslogSettings::Texts, std::vector<int>> cases[] = {
        {{}, {1, 0, 514, 0, 2, 16}},
        {{{"server", " 10.0.0.5 "}, {"port", "6514"}, {"protocol", "TCP"}, {"format", "1"}, {"facility", "0"}},
         {1, 1, 6514, 1, 1, 0}},
        {{{"server", "::1"}, {"port", "65535"}, {"protocol", "udp"}, {"format", "0"}, {"facility", "23"}},
         {1, 1, 65535, 0, 0, 23}},
        {{{"server", ""}}, {1, 0, 514, 0, 2, 16}},
        {{{"server", "c"}, {"port", "0"}}, {0}},        {{{"server", "c"}, {"port", "65536"}}, {0}},
        {{{"server", "c"}, {"port", "51 4"}}, {0}},     {{{"server", "c"}, {"protocol", "tls"}}, {0}},
        {{{"server", "c"}, {"facility", "24"}}, {0}},   {{{"server", "c"}, {"facility", "-1"}}, {0}},
        {{{"server", "c"}, {"format", "two"}}, {0}},    {{{"server", "two hosts"}}, {0}},
    };
    for (const auto& [texts, expected] : cases) {
        std::string label;
        for (const auto& t : texts) label += Utf8(t.first) + "=\"" + Utf8(t.second) + "\" ";
        CSyslogSettings s;
        wxString error;
        const bool accepted = s.Parse(texts, error);
        const std::vector<int> got =
            accepted ? std::vector<int>{1, s.HasDestination(), s.GetPort(), s.GetProtocol() == CSyslogSettings::Protocol::Tcp,
                                        s.GetFormatLevel(), s.GetFacility()}
                     : std::vector<int>{s.HasDestination() || s.IsEnabled()};
        EXPECT_EQ(expected, got) << label;
    }
}

TEST_F(SysloggerTest, WithoutServerNothingIsSent) {
    StartAgent("<Syslog format=\"1\"/>");
    CSyslogger syslogger(*m_dom, "integrity");
    EXPECT_FALSE(syslogger.Open());
    errno = 0;
    EXPECT_FALSE(syslogger.Send("CEF:0|x", 0));
    EXPECT_EQ(EDESTADDRREQ, errno);
}

// An invalid reload turns syslog off, said once; the next valid one sends to
// its own destination.
TEST_F(SysloggerTest, ReloadFollowsTheConfiguration) {
    LoopbackUdpSink first, second;
    ASSERT_NE(0, first.Port());
    StartAgent(SyslogElement(first.Port(), "udp"));
    CSyslogger syslogger(*m_dom, "integrity");
    std::string datagram;
    ASSERT_TRUE(syslogger.Send("before", 0));
    ASSERT_TRUE(first.Receive(datagram));

    Reconfigure(SyslogElement(first.Port(), "carrier-pigeon"));
    for (int i = 0; i < 3; ++i) syslogger.UpdateConfig();
    EXPECT_FALSE(syslogger.Send("while invalid", 0));
    EXPECT_FALSE(first.Pending()) << "a line went out with an invalid configuration";
    EXPECT_EQ(1u, CountInLog("\"carrier-pigeon\""));

    Reconfigure(SyslogElement(second.Port(), "udp"));
    syslogger.UpdateConfig();
    ASSERT_TRUE(syslogger.Send("after", 0));
    ASSERT_TRUE(second.Receive(datagram));
    EXPECT_EQ("after", MessageOf(datagram));
}

TEST_F(SysloggerTest, UdpDatagramIsOneRfc5424Message) {
    LoopbackUdpSink sink;
    ASSERT_NE(0, sink.Port());
    StartAgent(SyslogElement(sink.Port(), "udp", " facility=\"23\""));
    CSyslogger syslogger(*m_dom, "integrity");
    ASSERT_TRUE(syslogger.Send("CEF:0|x", 4102444799L)) << strerror(errno);
    std::string datagram;
    ASSERT_TRUE(sink.Receive(datagram));
    EXPECT_EQ("<189>1 2099-12-31T23:59:59Z " + HostName() + " kvo-agent " + std::to_string(getpid()) + " integrity - CEF:0|x",
              datagram);
}

TEST_F(SysloggerTest, UdpLineTooLongForADatagramIsCutAtACharacterBoundary) {
    LoopbackUdpSink sink;
    ASSERT_NE(0, sink.Port());
    StartAgent(SyslogElement(sink.Port(), "udp"));
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
        const std::string message = MessageOf(datagram);
        EXPECT_EQ(0u, sent.compare(0, message.size(), message)) << "the start of the line arrives";
        EXPECT_NE(0xC3, static_cast<unsigned char>(message.back())) << "cut inside a character";
    }
}

TEST_F(SysloggerTest, UdpLineAfterTheServerRestartedArrives) {
    auto sink = std::make_unique<LoopbackUdpSink>();
    const int port = sink->Port();
    ASSERT_NE(0, port);
    StartAgent(SyslogElement(port, "udp"));
    CSyslogger syslogger(*m_dom, "integrity");
    sink.reset();
    syslogger.Send("while down", 0);  // leaves the "port unreachable" reply on the socket
    sink = std::make_unique<LoopbackUdpSink>(port);
    ASSERT_EQ(port, sink->Port());
    EXPECT_TRUE(syslogger.Send("back up", 0)) << strerror(errno);
    std::string datagram;
    ASSERT_TRUE(sink->Receive(datagram));
    EXPECT_EQ("back up", MessageOf(datagram));
}

// After the server closed (FIN or reset) the next line goes over a new
// connection; while it is gone lines fail with errno, said once, and again
// once it is back.
TEST_F(SysloggerTest, TcpLineAfterTheServerClosedOrWasGoneArrives) {
    for (const char* how : {"closed", "reset", "gone"}) {
        SCOPED_TRACE(how);
        const bool gone = how[0] == 'g';
        auto sink = std::make_unique<LoopbackTcpSink>();
        const int port = sink->Port();
        ASSERT_NE(0, port);
        StartAgent(SyslogElement(port, "tcp"));
        CSyslogger syslogger(*m_dom, "integrity");
        std::string message, error;
        ASSERT_TRUE(syslogger.Send("before", 0));
        ASSERT_TRUE(sink->NextMessage(message, error)) << error;
        const int clientPort = sink->PeerPort();
        if (gone) sink->StopListening();
        if (!gone) sink->DropConnection(how[0] == 'r');
        ASSERT_TRUE(KvoTest::WaitUntilPeerClosed(clientPort)) << "the close never reached the sender";

        const std::string where = "tcp:127.0.0.1:" + std::to_string(port);
        for (int i = 0; gone && i < 3; ++i) {
            errno = 0;
            EXPECT_FALSE(syslogger.Send("lost", 0));
            EXPECT_EQ(ECONNREFUSED, errno);
        }
        EXPECT_EQ(gone ? 1u : 0u, CountInLog(where)) << "one complaint, not one per line";
        if (gone) sink = std::make_unique<LoopbackTcpSink>(port);
        ASSERT_TRUE(syslogger.Send("after", 0)) << strerror(errno);
        ASSERT_TRUE(sink->NextMessage(message, error)) << error;
        EXPECT_EQ("after", MessageOf(message));
        EXPECT_EQ(gone ? 1 : 2, sink->Accepted());
        EXPECT_EQ(gone ? 2u : 0u, CountInLog(where)) << "and one when it works again";
    }
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

    StartAgent(SyslogElement(sink.Port(), "tcp"));
    CSyslogger syslogger(*m_dom, "integrity");
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_FALSE(syslogger.Open());
    EXPECT_EQ(ETIMEDOUT, errno);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    close(filler);
}
