// Versioning by a comparing scan: which rows an incremental scan keeps, how
// it links them, and which events it reports for unchanged, changed, new,
// vanished, moved and copied entities.
#include <gtest/gtest.h>
#include <wx/wxsqlite3.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Utilities.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using KvoPluginIm::CSqlEntity;

class CVersionScanner : public CScriptedScanThread {
public:
    using CScriptedScanThread::CScriptedScanThread;
    using CScriptedScanThread::DoPerEntityIncrementalScanProcessing;
    using CScriptedScanThread::SetAttributeHash;

    // The content the scanner read for the current entity (digest: raw bytes).
    void SetContent(const std::string& content) {
        m_sha256 = content.empty() ? std::string() : Digest(content);
        m_sha1.clear();
        m_md5.clear();
        m_contentSize = static_cast<long long>(content.size());
    }
    // Stands in for SHA-256: what matters is that equal content gives equal bytes.
    static std::string Digest(const std::string& content) { return "\x01" + content; }
};

// An entity as a scan finds it: key, one plain attribute, and its content.
struct Found {
    std::string key;
    std::string size;
    std::string content;
};

class ScannerVersionsTest : public ScannerFrameworkFixture {
protected:
    void SetUp() override {
        ScannerFrameworkFixture::SetUp();
        if (HasFatalFailure()) return;
        ReloadConfig("systemIntegrityEventMode=\"1\"");
        KvoPluginIm::CSystemIntegrityThread().UpdateSettingsFromConfig();
        HookScript script;
        script.baseHooks = {CIntegrityScanThread::StepResetSupersededBy, CIntegrityScanThread::StepScanPostProcessing};
        m_scanner = std::make_unique<CVersionScanner>(*m_dom, LoadSubscan(AddSubscan(AddScan(1), 0), 0).release(),
                                                      script);
        ASSERT_TRUE(m_scanner->OpenSystemIntegrityDb());
        ASSERT_TRUE(m_scanner->OnThreadStartup());
    }
    void TearDown() override {
        m_scanner.reset();
        ScannerFrameworkFixture::TearDown();
    }

    // A row of the entity with its attributes and attribute hash, as recording leaves it.
    std::unique_ptr<CSqlEntity> Record(const Found& found) {
        m_db->ExecuteUpdate(wxString::Format(
            "INSERT INTO [Entitys] ([entityType],[entitySetId],[integrityRuleId],[integrityRuleSeverity],"
            "[keyCanonical],[key]) VALUES ('User',1,1,2,'%s','%s');",
            found.key, found.key));
        const long long id = m_db->GetLastRowId().GetValue();
        AddAttribute(id, "size", found.size);
        if (!found.content.empty()) {
            const std::string digest = CVersionScanner::Digest(found.content);
            AddAttribute(id, "sha256", KvoCore::toHexString(digest.data(), digest.size()).ToStdString());
        }
        auto entity = std::make_unique<CSqlEntity>();
        wxSQLite3ResultSet row =
            m_db->ExecuteQuery(wxString::Format("SELECT * FROM [Entitys] WHERE [entityId]=%lld;", id));
        EXPECT_TRUE(row.NextRow());
        entity->SQLLoad(row);
        m_scanner->SetAttributeHash(*entity);
        return entity;
    }
    void AddAttribute(long long entityId, const std::string& name, const std::string& value) {
        m_db->ExecuteUpdate(wxString::Format(
            "INSERT INTO [Attributes] ([entityId],[name],[value]) VALUES (%lld,'%s','%s');", entityId, name, value));
    }

    // Starts the incremental scan: everything recorded so far is older.
    void BeginScan() {
        m_db->ExecuteUpdate("INSERT INTO [Entitys] ([entityType]) VALUES ('-ScanStart-');");
        m_scanner->SetHighestEntityIdAtStartOfScan(m_db->GetLastRowId().GetValue());
        ASSERT_TRUE(m_scanner->OnResetSupersededBy());
    }
    void Find(const Found& found) {
        auto entity = Record(found);
        m_scanner->SetContent(found.content);
        ASSERT_TRUE(m_scanner->DoPerEntityIncrementalScanProcessing(*entity));
    }

    // Each User row by id: "key NULL", "key -1" or "key ->id-order" of the row it points to.
    std::vector<std::string> History() {
        return Column(*m_db,
                      "SELECT e.[key]||' '||CASE WHEN e.[supercededBy] ISNULL THEN 'NULL' WHEN e.[supercededBy]<0 "
                      "THEN e.[supercededBy] ELSE '->'||(SELECT n.[key]||'@'||(SELECT COUNT(*) FROM [Entitys] c "
                      "WHERE c.[entityType]='User' AND c.[entityId]<=n.[entityId]) FROM [Entitys] n WHERE "
                      "n.[entityId]=e.[supercededBy]) END FROM [Entitys] e WHERE e.[entityType]='User' ORDER BY "
                      "e.[entityId];");
    }
    std::vector<std::string> Events() {
        return Column(*m_db, "SELECT [change]||' '||[key] FROM [IntegrityEvents] ORDER BY [integrityEventId];");
    }

    std::unique_ptr<CVersionScanner> m_scanner;
};

TEST_F(ScannerVersionsTest, IncrementalScanLinksVersionsAndReportsEachChangeOnce) {
    const std::string c17(17, 'c'), c16(16, 'c');
    const struct {
        const char* what;
        std::vector<Found> before, found;
        std::vector<std::string> history, events;
    } cases[] = {
        {"unchanged", {{"a", "1", c17}}, {{"a", "1", c17}}, {"a NULL"}, {}},
        {"changed", {{"a", "1", c17}}, {{"a", "2", c17}}, {"a ->a@2", "a NULL"}, {"2 a"}},
        {"new", {}, {{"a", "1", ""}}, {"a NULL"}, {"1 a"}},
        {"vanished", {{"a", "1", ""}}, {}, {"a -1"}, {"3 a"}},
        {"moved with unique content", {{"a", "1", c17}}, {{"b", "1", c17}}, {"a ->b@2", "b NULL"}, {"4 a -> b"}},
        {"moved content found twice", {{"a", "1", c17}}, {{"b", "1", c17}, {"c", "1", c17}},
         {"a -1", "b NULL", "c NULL"}, {"3 a", "1 b", "1 c"}},
        {"copied, original stays", {{"a", "1", c17}}, {{"b", "1", c17}, {"a", "1", c17}}, {"a NULL", "b NULL"},
         {"1 b"}},
        {"small content moved", {{"a", "1", c16}}, {{"b", "1", c16}}, {"a -1", "b NULL"}, {"1 b", "3 a"}},
        {"two older with the content", {{"a", "1", c17}, {"b", "1", c17}}, {{"c", "1", c17}},
         {"a -1", "b -1", "c NULL"}, {"1 c", "3 a", "3 b"}},
    };
    for (const auto& c : cases) {
        m_db->ExecuteUpdate("DELETE FROM [Entitys];");
        m_db->ExecuteUpdate("DELETE FROM [IntegrityEvents];");
        for (const Found& f : c.before) Record(f);
        BeginScan();
        for (const Found& f : c.found) Find(f);
        ASSERT_TRUE(m_scanner->OnScanPostProcessing()) << c.what;
        EXPECT_EQ(c.history, History()) << c.what;
        EXPECT_EQ(c.events, Events()) << c.what;
    }
}

TEST_F(ScannerVersionsTest, RowsOfAnInterruptedScanAreRemovedWhenTheEntityIsSeenAgain) {
    Record({"a", "1", ""});
    const auto half = Record({"a", "1", ""});  // its hash was never written
    m_db->ExecuteUpdate(wxString::Format("UPDATE [Entitys] SET [attributeHash]=X'' WHERE [entityId]=%lld;",
                                         half->m_entityId));
    const auto backwards = Record({"a", "2", ""});  // points to an older row
    m_db->ExecuteUpdate(wxString::Format("UPDATE [Entitys] SET [supercededBy]=%lld WHERE [entityId]=%lld;",
                                         half->m_entityId, backwards->m_entityId));
    BeginScan();
    Find({"a", "1", ""});
    ASSERT_TRUE(m_scanner->OnScanPostProcessing());
    EXPECT_EQ(std::vector<std::string>{"a NULL"}, History());
    EXPECT_TRUE(Events().empty());
}

// What a scanner runs per entity must search the index that keeps its cost
// independent of the baseline's size: a walk over every current entity per
// new file (the rename search by content) made a check of many new files run for hours.
// (That search looks in a snapshot the scan takes once, indexed.)
TEST_F(ScannerVersionsTest, PerEntityStatementsSearchTheirIndex) {
    const std::string attributes = "INDEX AttributesEntityId ", keys = "INDEX EntitysKeySet";
    const std::map<std::string, std::string> wanted = {
        {"attributeHash", attributes}, {"copyAttributes", attributes}, {"fillUnknownDigests", attributes},
        {"attributesOfTwoEntities", attributes}, {"attributesOfEntity", attributes}, {"attributeOfEntity", attributes},
        {"entityIdsWithAttributeValue", "INDEX DigestSnapshotValue"}, {"olderEntityNotSeenAgain", keys},
        {"olderCurrentEntitiesNewestFirst", keys}, {"previousVersionsOfEntity", keys}, {"currentEntitiesAtKey", keys},
        {"realtimeChangeDetailsOfKey", "INDEX RealtimeChangesKeyCanonical"},
        {"deleteRealtimeChange", "INDEX RealtimeChangesKeyCanonical"}, {"deleteEntity", "PRIMARY KEY"},
        {"updateEntity", "PRIMARY KEY"}, {"updateSupercededBy", "PRIMARY KEY"},
        {"updateAttributeHash", "PRIMARY KEY"}};
    size_t checked = 0;
    for (const auto& [name, statement] : m_scanner->Stmt().List()) {
        const auto it = wanted.find(name);
        if (it == wanted.end()) continue;
        ++checked;
        std::string plan;
        wxSQLite3ResultSet steps = m_scanner->Db().ExecuteQuery("EXPLAIN QUERY PLAN " + statement->GetSQL());
        // Reading the rows of its own subquery is no table walk.
        while (steps.NextRow())
            if (!steps.GetString(3).StartsWith("SCAN (subquery")) plan += steps.GetString(3).ToStdString() + "; ";
        EXPECT_NE(plan.find(it->second), std::string::npos) << name << ": " << plan;
        EXPECT_EQ(plan.find("SCAN "), std::string::npos) << name << ": " << plan;
    }
    EXPECT_EQ(checked, wanted.size());
}

}  // namespace
}  // namespace KvoTest
