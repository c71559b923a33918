// Integrity events as a scanner reports them: the change description of
// updates, and the updates that are no event at all.
#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Utilities.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/LoopbackUdpSink.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using KvoPluginIm::CSqlEntity;
using Attrs = std::vector<std::vector<std::string>>;  // name, value[, friendly value]

class CEventScanner : public CScriptedScanThread {
public:
    using CScriptedScanThread::CScriptedScanThread;
    using CScriptedScanThread::GetUpdatedEventDescription;
    using CScriptedScanThread::ReportIntegrityEvent;
};

class ScannerEventsTest : public ScannerFrameworkFixture {
protected:
    void SetUp() override {
        ScannerFrameworkFixture::SetUp();
        if (HasFatalFailure()) return;
        m_db->ExecuteUpdate(
            "INSERT INTO [IntegrityRules] ([integrityRuleId],[name],[identifier],[severity]) VALUES (1,'r','7',2);");
        m_subscanId = AddSubscan(AddScan(1), 0);
        m_scanner = NewEventScanner();
    }
    void TearDown() override {
        m_scanner.reset();
        ScannerFrameworkFixture::TearDown();
    }

    std::unique_ptr<CEventScanner> NewEventScanner() {
        auto scanner = std::make_unique<CEventScanner>(*m_dom, LoadSubscan(m_subscanId, 0).release());
        EXPECT_TRUE(scanner->OpenSystemIntegrityDb());
        return scanner;
    }

    // Event mode and syslog destination as the configuration sets them.
    void Configure(int eventMode, const std::string& syslog = std::string()) {
        {
            std::ofstream out(m_dir.file("config.xml"));
            out << "<SecurityConfiguration><AgentConfiguration systemIntegrityEventMode=\"" << eventMode << "\"/>"
                << syslog << "<IntegrityRules/></SecurityConfiguration>\n";
        }
        wxString error;
        ASSERT_TRUE(m_dom->ConfigReload(error)) << error;
        KvoPluginIm::CSystemIntegrityThread().UpdateSettingsFromConfig();
        ASSERT_EQ(eventMode, KvoPluginIm::GetEventMode());
    }

    // An entity row with its attribute rows, loaded back as the scanner sees it.
    std::unique_ptr<CSqlEntity> AddEntity(const std::string& key, int severity, const Attrs& attributes,
                                          const std::string& hashHex = "00") {
        m_db->ExecuteUpdate(wxString::Format(
            "INSERT INTO [Entitys] ([entityType],[entitySetId],[integrityRuleId],[integrityRuleSeverity],"
            "[keyCanonical],[key],[whenScanned],[attributeHash]) VALUES ('User',1,1,%d,'%s','%s',5,X'%s');",
            severity, key, key, hashHex));
        const long long id = m_db->GetLastRowId().GetValue();
        for (const auto& a : attributes) {
            wxSQLite3Statement insert = m_db->PrepareStatement(
                "INSERT INTO [Attributes] ([entityId],[name],[value],[friendlyValue]) VALUES (?,?,?,?);");
            insert.Bind(1, static_cast<wxLongLong>(id));
            insert.Bind(2, wxString::FromUTF8(a[0]));
            insert.Bind(3, wxString::FromUTF8(a[1]));
            if (a.size() > 2) insert.Bind(4, wxString::FromUTF8(a[2]));
            insert.ExecuteUpdate();
        }
        auto entity = std::make_unique<CSqlEntity>();
        wxSQLite3ResultSet row =
            m_db->ExecuteQuery(wxString::Format("SELECT * FROM [Entitys] WHERE [entityId]=%lld;", id));
        EXPECT_TRUE(row.NextRow());
        entity->SQLLoad(row);
        return entity;
    }

    std::vector<std::string> EventRows() {
        return Column(*m_db,
                      "SELECT [change]||'|'||[key]||'|'||IFNULL([severity],'-')||'|'||IFNULL([wasEntity],'-')||'|'||"
                      "IFNULL([isEntity],'-')||'|'||IFNULL([user],'-')||'|'||IFNULL([process],'-')||'|'||"
                      "[entityType]||'|'||[status]||'|'||[integrityRuleId]||'|'||IFNULL([description],'-') "
                      "FROM [IntegrityEvents] ORDER BY [integrityEventId];");
    }

    long long m_subscanId = 0;
    std::unique_ptr<CEventScanner> m_scanner;
};

TEST_F(ScannerEventsTest, UpdateDescriptionListsEachReportableChange) {
    const struct {
        const char* what;
        Attrs was, is;
        const char* description;
        const char* names;
    } cases[] = {
        {"value changed", {{"size", "10"}}, {{"size", "20"}}, "size:MTA=_MjA=", "size"},
        {"nothing changed", {{"size", "10"}}, {{"size", "10"}}, "", ""},
        {"created moved backwards", {{"created", "2000000000"}}, {{"created", "1000000000"}}, "", ""},
        {"created was empty", {{"created", ""}}, {{"created", "1000000000"}}, "", ""},
        {"created moved on, in ms", {{"created", "1000000000"}}, {{"created", "2000000000"}},
         "created:MTAwMA==_MjAwMA==", "created"},
        {"lastModified in ms", {{"lastModified", "1700000000000000000"}}, {{"lastModified", "1700000001000000000"}},
         "lastModified:MTcwMDAwMDAwMDAwMA==_MTcwMDAwMDAwMTAwMA==", "lastModified"},
        {"group and created appear", {}, {{"created", "1"}, {"group", "0"}, {"shell", "/bin/sh"}},
         "shell:_L2Jpbi9zaA==", "shell"},
        {"attribute gone", {{"mode", "644"}}, {}, "mode:NjQ0_", "mode"},
        {"friendly values differ", {{"uid", "0", "root"}}, {{"uid", "1000", "alice"}}, "uid:cm9vdA==_YWxpY2U=", "uid"},
        {"same friendly value", {{"shell", "/bin/sh", "x"}}, {{"shell", "/bin/bash", "x"}},
         "shell:L2Jpbi9zaA==_L2Jpbi9iYXNo", "shell"},
        {"UTF-8", {{"owner", "alice"}}, {{"owner", "caf\xc3\xa9"}}, "owner:YWxpY2U=_Y2Fmw6k=", "owner"},
        {"several, by name", {{"mode", "644"}, {"size", "10"}, {"uid", "0"}},
         {{"mode", "644"}, {"shell", "/bin/sh"}, {"size", "20"}, {"uid", "0"}}, "shell:_L2Jpbi9zaA==\nsize:MTA=_MjA=",
         "shell,size"},
    };
    for (const auto& c : cases) {
        const auto was = AddEntity("/etc/a", 2, c.was);
        const auto is = AddEntity("/etc/a", 2, c.is);
        wxString description, names;
        EXPECT_EQ(*c.description != '\0', m_scanner->GetUpdatedEventDescription(was.get(), is.get(), description,
                                                                               names))
            << c.what;
        EXPECT_EQ(c.description, description.utf8_string()) << c.what;
        EXPECT_EQ(c.names, names.utf8_string()) << c.what;
    }
}

TEST_F(ScannerEventsTest, UpdateWithoutReportableChangeIsDroppedWithoutSyslogLine) {
    LoopbackUdpSink sink;
    ASSERT_NE(0, sink.Port());
    Configure(1, "<Syslog server=\"127.0.0.1\" port=\"" + std::to_string(sink.Port()) + "\" protocol=\"udp\"/>");
    const auto was = AddEntity("/etc/a", 2, {{"created", "2000000000"}, {"size", "10"}});
    const auto is = AddEntity("/etc/a", 2, {{"created", "1000000000"}, {"size", "10"}});
    m_scanner->ReportIntegrityEvent(was.get(), is.get(), -1, 1, 2, 0, "", "");
    EXPECT_EQ(1, Scalar(*m_db, wxString::Format("SELECT [eventDropped] FROM [Entitys] WHERE [entityId]=%lld;",
                                                is->m_entityId)));
    EXPECT_EQ(0, Scalar(*m_db, wxString::Format("SELECT [eventDropped] FROM [Entitys] WHERE [entityId]=%lld;",
                                                was->m_entityId)));
    EXPECT_TRUE(EventRows().empty());

    // Datagrams keep their order on loopback: the first one is the delete's.
    m_scanner->ReportIntegrityEvent(was.get(), nullptr, -1, 1, 3, 0, "", "");
    std::string datagram;
    ASSERT_TRUE(sink.Receive(datagram));
    EXPECT_NE(std::string::npos, datagram.find("act=deleted")) << datagram;
    EXPECT_EQ(1u, EventRows().size());
}

}  // namespace
}  // namespace KvoTest
