// The CEF line a scanner builds for a reported event. Delivery to a real
// rsyslogd is tested end to end (e2e agent_syslog).
#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <errno.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <string>

#include "core/Syslogger.h"
#include "core/Utilities.h"
#include "plugins/im/SqlEntity.h"
#include "tests/unit/LoopbackTcpSink.h"
#include "tests/unit/SyslogTestSupport.h"
#include "tests/unit/TempDir.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
using KvoTest::kCafe;
using KvoTest::kJapan;
using KvoTest::WaitUntilPeerClosed;

namespace {

const char* const kHeader = "CEF:0|kvo|kvo-agent|0.1.0|";

class CSyslogScanner : public CScriptedScanThread {
public:
    using CScriptedScanThread::CScriptedScanThread;
    using CScriptedScanThread::SyslogFormat;
    using CScriptedScanThread::SyslogSend;
};

std::unique_ptr<KvoPluginIm::CSqlEntity> Entity(const wxString& key, int severity) {
    auto entity = std::make_unique<KvoPluginIm::CSqlEntity>();
    entity->m_entityType = "File";
    entity->m_key = key;
    entity->m_keyCanonical = key;
    entity->m_integrityRuleSeverity = severity;
    return entity;
}

class ScannerSyslogTest : public ScannerFrameworkFixture {
protected:
    void SetUp() override {
        ScannerFrameworkFixture::SetUp();
        if (HasFatalFailure()) return;
        AddRule(1, "System configuration", "1002");
        m_scanner = std::make_unique<CSyslogScanner>(*m_dom, LoadSubscan(AddSubscan(AddScan(0), 0), 0).release());
        ASSERT_TRUE(m_scanner->OpenSystemIntegrityDb());
    }
    void TearDown() override {
        m_scanner.reset();
        ScannerFrameworkFixture::TearDown();
    }

    void AddRule(long long id, const wxString& name, const wxString& identifier) {
        wxSQLite3Statement insert = m_db->PrepareStatement(
            "INSERT INTO [IntegrityRules] ([integrityRuleId],[name],[identifier],[severity]) VALUES (?,?,?,2);");
        insert.Bind(1, static_cast<wxLongLong>(id));
        insert.Bind(2, name);
        insert.Bind(3, identifier);
        insert.ExecuteUpdate();
    }

    // The host identity as the agent core writes it at formatLevel.
    std::string Identity(int formatLevel) {
        KvoCore::CSyslogger syslogger(*m_dom, "identity");
        char buffer[1024] = "";
        syslogger.AppendHostIdentityCEF(formatLevel, buffer, sizeof buffer);
        return buffer;
    }

    std::string Expected(const std::string& body, int formatLevel, const std::string& extension) {
        return kHeader + body + Identity(formatLevel) + " act=" + extension;
    }

    // The configuration in force gets this Syslog element.
    void ConfigureSyslog(const std::string& syslogElement) {
        {
            std::ofstream out(m_dir.file("config.xml"));
            out << "<SecurityConfiguration><AgentConfiguration/>" << syslogElement
                << "<IntegrityRules/></SecurityConfiguration>\n";
        }
        wxString error;
        ASSERT_TRUE(m_dom->ConfigReload(error)) << error;
    }

    std::unique_ptr<CSyslogScanner> m_scanner;
    std::unique_ptr<KvoPluginIm::CSqlEntity> m_was = Entity("/etc/old.conf", 2);
    std::unique_ptr<KvoPluginIm::CSqlEntity> m_is = Entity("/etc/new.conf", 2);
};

TEST_F(ScannerSyslogTest, ExtensionPerChangeTypeAndFormatLevel) {
    const struct {
        int change;
        int level;
        const char* user;
        const char* process;
        const char* extension;
    } cases[] = {
        {1, 2, "", "", "created filePath=/etc/new.conf"},
        {1, 0, "root", "/usr/bin/vi", "created suser=root sproc=/usr/bin/vi fname=/etc/new.conf"},
        {2, 2, "root", "", "updated suser=root filePath=/etc/new.conf msg=size,sha256"},
        {2, 1, "", "/bin/cp", "updated sproc=/bin/cp fname=/etc/new.conf msg=size,sha256"},
        {2, 0, "", "", "updated fname=/etc/new.conf msg=size,sha256"},
        {3, 3, "", "", "deleted filePath=/etc/old.conf"},
        {3, 1, "root", "rm", "deleted suser=root sproc=rm fname=/etc/old.conf"},
        {4, 2, "root", "mv", "renamed suser=root sproc=mv oldfilePath=/etc/old.conf filePath=/etc/new.conf"},
        {4, 3, "", "", "renamed oldfilePath=/etc/old.conf filePath=/etc/new.conf"},
        {4, 1, "", "", "renamed fname=/etc/old.conf -> /etc/new.conf"},
        {4, 0, "root", "", "renamed suser=root fname=/etc/old.conf -> /etc/new.conf"},
        {0, 2, "root", "mv", "unknown"},
        {5, 1, "", "", "unknown"},
    };
    for (const auto& c : cases) {
        const KvoPluginIm::CSqlEntity* was = c.change == 1 ? nullptr : m_was.get();
        const KvoPluginIm::CSqlEntity* is = c.change == 3 ? nullptr : m_is.get();
        std::string line;
        ASSERT_TRUE(m_scanner->SyslogFormat(was, is, 0, 1, c.change, "size,sha256", c.user, c.process, c.level, line))
            << c.extension;
        EXPECT_EQ(Expected("1002|System configuration|6|", c.level, c.extension), line)
            << "change " << c.change << ", level " << c.level;
    }
}

TEST_F(ScannerSyslogTest, ValuesAreEscapedButTheChangedListIsNot) {
    AddRule(2, "etc | conf \\ rule", "1002");
    const auto is = Entity(wxString::FromUTF8(std::string("/srv/a=b\\c\n") + kCafe), 2);
    std::string line;
    ASSERT_TRUE(m_scanner->SyslogFormat(nullptr, is.get(), 0, 2, 2, "x=y", "DOM\\adm", "/opt/p=q", 2, line));
    EXPECT_EQ(Expected("1002|etc \\| conf \\\\ rule|6|", 2,
                       std::string("updated suser=DOM\\\\adm sproc=/opt/p\\=q filePath=/srv/a\\=b\\\\c\\n") + kCafe +
                           " msg=x=y"),
              line);
}

TEST_F(ScannerSyslogTest, SeverityOfTheNewVersionOrElseTheOld) {
    const struct {
        int was;
        int is;
        int change;
        int cef;
    } cases[] = {
        {2, 1, 2, 3}, {2, 2, 2, 6}, {2, 3, 2, 8}, {2, 4, 2, 10}, {4, 0, 2, 9},  {4, 5, 2, 9},
        {1, -1, 2, 9}, {3, 0, 3, 8}, {0, 4, 1, 10}, {1, 4, 4, 10}, {5, 0, 3, 9},
    };
    for (const auto& c : cases) {
        const auto was = Entity("/etc/old.conf", c.was);
        const auto is = Entity("/etc/new.conf", c.is);
        std::string line;
        ASSERT_TRUE(m_scanner->SyslogFormat(c.change == 1 ? nullptr : was.get(), c.change == 3 ? nullptr : is.get(), 0,
                                            1, c.change, "size", "", "", 2, line));
        const std::string prefix = std::string(kHeader) + "1002|System configuration|" + std::to_string(c.cef) + "|";
        EXPECT_EQ(prefix, line.substr(0, prefix.size())) << "was " << c.was << ", is " << c.is;
    }
}

TEST_F(ScannerSyslogTest, SignatureIdFromTheRuleIdentifier) {
    const struct {
        long long rule;
        const char* identifier;
        const char* signature;
        const char* logged;
    } cases[] = {
        {11, "1002", "1002", nullptr},
        {12, "", "30", nullptr},
        {13, "abc", "30", "Identifier for SI rule (id=13) is not a number: abc"},
        {14, "99999999999999999999", "30", "Identifier for SI rule (id=14) is invalid: 99999999999999999999"},
    };
    for (const auto& c : cases) {
        AddRule(c.rule, "r", c.identifier);
        std::string line;
        ASSERT_TRUE(m_scanner->SyslogFormat(nullptr, m_is.get(), 0, static_cast<int>(c.rule), 1, "", "", "", 2, line));
        EXPECT_EQ(Expected(std::string(c.signature) + "|r|6|", 2, "created filePath=/etc/new.conf"), line)
            << "identifier '" << c.identifier << "'";
        const std::string mention = "Identifier for SI rule (id=" + std::to_string(c.rule) + ")";
        if (c.logged != nullptr)
            EXPECT_NE(std::string::npos, LogText().find(c.logged)) << LogText();
        else
            EXPECT_EQ(std::string::npos, LogText().find(mention)) << LogText();
    }
}

TEST_F(ScannerSyslogTest, NameIsCutTo128CharactersWithoutALoneBackslash) {
    std::string e200, e128;
    for (int i = 0; i < 200; ++i) e200 += "\xc3\xa9";
    for (int i = 0; i < 128; ++i) e128 += "\xc3\xa9";
    const std::string a126(126, 'a'), a127(127, 'a');
    const struct {
        std::string name;
        std::string cef;
    } cases[] = {
        {e200, e128},
        {a126 + "|", a126 + "\\|"},
        {a127 + "|tail", a127},
        {a127 + "\\\\", a127},
        {a126 + "\\", a126 + "\\\\"},
        {std::string(128, 'b') + "c", std::string(128, 'b')},
    };
    long long rule = 20;
    for (const auto& c : cases) {
        AddRule(++rule, wxString::FromUTF8(c.name), "7");
        std::string line;
        ASSERT_TRUE(m_scanner->SyslogFormat(m_was.get(), nullptr, 0, static_cast<int>(rule), 3, "", "", "", 1, line));
        EXPECT_EQ(Expected("7|" + c.cef + "|6|", 1, "deleted fname=/etc/old.conf"), line) << c.name;
    }
}

TEST_F(ScannerSyslogTest, LongChangedListIsCutAtACharacterBoundaryWithin65528Bytes) {
    // Three paddings put the cut in each position of a three-byte character.
    for (size_t pad = 0; pad < 3; ++pad) {
        std::string names(pad, 'p');
        while (names.size() < 90000) names += std::string(kJapan) + ",";
        std::string line;
        ASSERT_TRUE(m_scanner->SyslogFormat(m_was.get(), m_is.get(), 0, 1, 2, wxString::FromUTF8(names), "", "", 2,
                                            line));
        const std::string start = Expected("1002|System configuration|6|", 2, "updated filePath=/etc/new.conf msg=");
        ASSERT_EQ(start, line.substr(0, start.size()));
        EXPECT_LE(line.size(), 65528u) << "pad " << pad;
        EXPECT_GE(line.size(), 65528u - 3) << "pad " << pad;
        EXPECT_TRUE(KvoCore::isLegalUTF8String(line.data(), line.size())) << "pad " << pad;
        EXPECT_EQ(names.substr(0, line.size() - start.size()), line.substr(start.size())) << "pad " << pad;
    }
}

TEST_F(ScannerSyslogTest, LineCannotBeBuiltWithoutTheEntityTheChangeNamesButWithoutItsRule) {
    const struct {
        const char* what;
        bool was;
        bool is;
        int rule;
        int change;
    } cases[] = {
        {"create without new version", true, false, 1, 1},
        {"update without new version", true, false, 1, 2}, {"delete without old version", false, true, 1, 3},
        {"rename without old version", false, true, 1, 4}, {"rename without new version", true, false, 1, 4},
    };
    for (const auto& c : cases) {
        std::string line = "untouched";
        EXPECT_FALSE(m_scanner->SyslogFormat(c.was ? m_was.get() : nullptr, c.is ? m_is.get() : nullptr, 0, c.rule,
                                             c.change, "size", "", "", 2, line))
            << c.what;
        EXPECT_EQ("untouched", line) << c.what;
    }
    std::string line;
    // The change happened though its rule went meanwhile: no name, signature id 30.
    EXPECT_TRUE(m_scanner->SyslogFormat(m_was.get(), m_is.get(), 0, 99, 2, "size", "", "", 2, line));
    EXPECT_NE(line.find("|30||"), std::string::npos) << line;
    m_scanner->CloseSystemIntegrityDb();
    EXPECT_FALSE(m_scanner->SyslogFormat(m_was.get(), m_is.get(), 0, 1, 2, "size", "", "", 2, line));
}

TEST_F(ScannerSyslogTest, WithSyslogOffNothingIsFormatted) {
    ConfigureSyslog("");
    m_scanner->SyslogSend(m_was.get(), m_is.get(), 0, 99, 2, "size", 1700000000000LL, "", "");
    ConfigureSyslog("<Syslog port=\"514\"/>");
    m_scanner->SyslogSend(m_was.get(), m_is.get(), 0, 99, 2, "size", 1700000000000LL, "", "");
    EXPECT_EQ(std::string::npos, LogText().find("SyslogSend()")) << LogText();
}

TEST_F(ScannerSyslogTest, SendFailureIsLoggedWithTheReasonThenAnUnopenableServerIsQuiet) {
    LoopbackTcpSink sink;
    ASSERT_NE(0, sink.Port());
    ConfigureSyslog("<Syslog server=\"127.0.0.1\" port=\"" + std::to_string(sink.Port()) + "\" protocol=\"tcp\"/>");
    m_scanner->SyslogSend(m_was.get(), nullptr, 0, 1, 3, "", 1700000000000LL, "", "");
    std::string message, error;
    ASSERT_TRUE(sink.NextMessage(message, error)) << error;
    EXPECT_NE(std::string::npos, message.find("act=deleted")) << message;
    EXPECT_NE(std::string::npos, message.find(" 2023-11-14T22:13:20Z ")) << "stamped in seconds: " << message;
    const int clientPort = sink.PeerPort();
    sink.StopListening();
    ASSERT_TRUE(WaitUntilPeerClosed(clientPort)) << "the close never reached the sender";

    const std::string failed = "CIntegrityScanThread::SyslogSend() - send failed: ";
    m_scanner->SyslogSend(m_was.get(), nullptr, 0, 1, 3, "", 1700000000000LL, "", "");
    const std::string log = LogText();
    const size_t at = log.find(failed);
    ASSERT_NE(std::string::npos, at) << log;
    EXPECT_EQ(0u, log.compare(at + failed.size(), std::string(strerror(ECONNREFUSED)).size(), strerror(ECONNREFUSED)))
        << log;

    m_scanner->SyslogSend(m_was.get(), nullptr, 0, 1, 3, "", 1700000000000LL, "", "");
    EXPECT_EQ(log.find(failed), LogText().rfind(failed)) << "an unopenable syslogger must drop the line silently";
}

}  // namespace
}  // namespace KvoTest
