// The CEF line a scanner builds for a reported event. Delivery to a real
// rsyslogd is tested end to end (e2e agent_syslog).
#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <memory>
#include <string>

#include "core/Syslogger.h"
#include "core/Utilities.h"
#include "core/Version.h"
#include "plugins/im/SqlEntity.h"
#include "tests/unit/SyslogTestSupport.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

const std::string kHeader = std::string("CEF:0|kvo|kvo-agent|") + KvoCore::kAgentVersion + "|";

class CSyslogScanner : public CScriptedScanThread {
public:
    using CScriptedScanThread::CScriptedScanThread;
    using CScriptedScanThread::SyslogFormat;
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

    // The line with the host identity as the agent core writes it at formatLevel.
    std::string Expected(const std::string& body, int formatLevel, const std::string& extension) {
        KvoCore::CSyslogger syslogger(*m_dom, "identity");
        char identity[1024] = "";
        syslogger.AppendHostIdentityCEF(formatLevel, identity, sizeof identity);
        return kHeader + body + identity + " act=" + extension;
    }

    std::unique_ptr<CSyslogScanner> m_scanner;
    std::unique_ptr<KvoPluginIm::CSqlEntity> m_was = Entity("/etc/old.conf", 2);
    std::unique_ptr<KvoPluginIm::CSqlEntity> m_is = Entity("/etc/new.conf", 2);
};

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

// The change happened though its rule went meanwhile: the line still goes,
// with no name and signature id 30.
TEST_F(ScannerSyslogTest, LineWithoutItsRuleRowStillGoes) {
    std::string line;
    EXPECT_TRUE(m_scanner->SyslogFormat(m_was.get(), m_is.get(), 0, 99, 2, "size", "", "", 2, line));
    EXPECT_NE(line.find("|30||"), std::string::npos) << line;
}

}  // namespace
}  // namespace KvoTest
