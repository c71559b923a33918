// The scanner's own connection: its statements against the real schema, and
// the query plans of the per-entity lookups that run once per scanned entity.
#include <wx/wxsqlite3.h>

#include "plugins/im/SqlIntegrityRule.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using Step = CIntegrityScanThread::ScanStep;

class ScannerDbTest : public ScannerFrameworkFixture {
protected:
    std::unique_ptr<CScriptedScanThread> NewIdleScanner() {
        return NewScanner(AddSubscan(AddScan(0), 0), Step::StepInit);
    }

    // The detail lines of SQLite's plan for sql.
    std::vector<std::string> Plan(wxSQLite3Database& db, const wxString& sql) {
        std::vector<std::string> lines;
        wxSQLite3ResultSet rows = db.ExecuteQuery("EXPLAIN QUERY PLAN " + sql);
        while (rows.NextRow()) lines.push_back(rows.GetString(3).ToStdString());
        return lines;
    }
};

TEST_F(ScannerDbTest, AllStatementsPrepareAgainstTheSchema) {
    auto scanner = NewIdleScanner();
    ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
    const auto statements = scanner->Stmt().List();
    ASSERT_EQ(22u, statements.size());
    std::set<std::string> names;
    for (const auto& [name, statement] : statements) {
        EXPECT_NE(nullptr, statement) << name;
        names.insert(name);
    }
    EXPECT_EQ(22u, names.size());
    // The attribute hash names its algorithm in the SQL: a SHA-1 digest is 20 bytes.
    m_db->ExecuteUpdate("INSERT INTO [Attributes] ([entityId],[name],[value]) VALUES (1,'size','42');");
    wxSQLite3Statement& hash = *scanner->Stmt().attributeHash;
    hash.Bind(1, static_cast<wxLongLong>(1));
    wxSQLite3ResultSet row = hash.ExecuteQuery();
    ASSERT_TRUE(row.NextRow());
    wxMemoryBuffer digest;
    row.GetBlob(0, digest);
    EXPECT_EQ(20u, digest.GetDataLen());
}

// Each of these runs once per entity (or per key) of a scan. Its plan must find
// the rows by the entity's own identity: a plan that reads a whole table, or
// every entity of a rule, makes a scan quadratic in the size of the baseline.
TEST_F(ScannerDbTest, PerEntityLookupsSearchByTheEntitysIdentity) {
    auto scanner = NewIdleScanner();
    ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
    // Statement -> the equality its search must start with.
    const std::map<std::string, std::string> perEntity = {
        {"attributeHash", "(entityId=?"},
        {"copyAttributes", "(entityId=?"},
        {"attributesOfTwoEntities", "(entityId=?"},
        {"attributesOfEntity", "(entityId=?"},
        {"attributeOfEntity", "(entityId=? AND name=?)"},
        {"deleteEntity", "(rowid=?)"},
        {"updateAttributeHash", "(rowid=?)"},
        {"updateEntity", "(rowid=?)"},
        {"updateSubscan", "(rowid=?)"},
        {"deleteRealtimeChange", "(keyCanonical=?"},
        {"realtimeChangeDetailsOfKey", "(keyCanonical=?"},
        {"currentEntitiesAtKey", "(keyCanonical=?"},
        {"olderEntityNotSeenAgain", "(keyCanonical=?"},
        {"olderCurrentEntitiesNewestFirst", "(keyCanonical=?"},
        {"previousVersionsOfEntity", "(keyCanonical=?"},
        // Runs once per key of the attribute step and reads only the first key's rows.
        {"subscanEntitys", "(keyCanonical>?)"},
    };
    size_t checked = 0;
    for (const auto& [name, statement] : scanner->Stmt().List()) {
        auto lookup = perEntity.find(name);
        if (lookup == perEntity.end()) continue;
        ++checked;
        SCOPED_TRACE(name);
        const std::vector<std::string> plan = Plan(scanner->Db(), statement->GetSQL());
        ASSERT_FALSE(plan.empty());
        std::string firstSearch;
        for (const std::string& line : plan) {
            // Reading the rows a subquery produced is fine; reading a table is not.
            const bool tableScan = line.rfind("SCAN ", 0) == 0 && line.rfind("SCAN (subquery", 0) != 0;
            EXPECT_FALSE(tableScan) << line;
            // Sorting all rows after the checkpoint once per key would be quadratic too.
            if (name == std::string("subscanEntitys")) {
                EXPECT_EQ(std::string::npos, line.find("TEMP B-TREE")) << line;
            }
            if (firstSearch.empty() && line.rfind("SEARCH ", 0) == 0) firstSearch = line;
        }
        EXPECT_NE(std::string::npos, firstSearch.find(lookup->second)) << "plan starts with: " << firstSearch;
    }
    EXPECT_EQ(perEntity.size(), checked);
}

TEST_F(ScannerDbTest, OpeningAgainKeepsConnectionAndStatements) {
    auto scanner = NewIdleScanner();
    ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
    KvoCore::CSqliteDatabase* connection = &scanner->Db();
    const auto before = scanner->Stmt().List();
    ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
    EXPECT_EQ(connection, &scanner->Db());
    EXPECT_EQ(before, scanner->Stmt().List());

    scanner->CloseSystemIntegrityDb();
    EXPECT_FALSE(scanner->IsDbOpen());
    ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
    EXPECT_TRUE(scanner->IsDbOpen());
}

TEST_F(ScannerDbTest, UnusableDatabasePathOpensNothing) {
    std::ofstream(m_dir.file("not-a-db")) << "this is not an SQLite file, it is long enough to be checked\n";
    const std::vector<std::pair<const char*, std::string>> paths = {
        {"unset", ""},
        {"directory", m_dir.path()},
        {"not a database", m_dir.file("not-a-db")},
        {"missing directory", m_dir.file("missing/si.db")},
    };
    for (const auto& [what, path] : paths) {
        SCOPED_TRACE(what);
        if (path.empty())
            m_dom->SetNil("zel.im.dbPath");
        else
            m_dom->Set("zel.im.dbPath", path);
        auto scanner = NewIdleScanner();
        EXPECT_FALSE(scanner->OpenSystemIntegrityDb());
        EXPECT_FALSE(scanner->IsDbOpen());
    }
}

// A scanner whose connection cannot open leaves its subscan as it was, so the
// scan is retried once the database is back.
TEST_F(ScannerDbTest, RunWithoutDatabaseLeavesSubscanUntouched) {
    const long long subscanId = AddSubscan(AddScan(0), 300000, "3:x");
    m_dom->Set("zel.im.dbPath", m_dir.file("missing/si.db"));
    auto scanner = NewScanner(subscanId, Step::StepInit);
    Run(*scanner);
    EXPECT_FALSE(scanner->IsFinished());
    const StoredSubscan stored = Stored(subscanId);
    EXPECT_EQ(300000, stored.scanStep);
    EXPECT_EQ("3:x", stored.checkpointInfo);
    EXPECT_EQ(std::string::npos, AgentEvents().find("3010|"));
}

TEST_F(ScannerDbTest, IntegrityRuleLoadsByItsId) {
    m_db->ExecuteUpdate(
        "INSERT INTO [IntegrityRules] ([integrityRuleId],[name],[allowOnChange],[severity]) VALUES "
        "(7,'Seven',1,3),(8,'Eight',0,1);");
    KvoPluginIm::CSqlIntegrityRule rule;
    ASSERT_TRUE(CIntegrityScanThread::GetIntegrityRule(*m_db, 8, rule));
    EXPECT_EQ("Eight", rule.GetName());
    EXPECT_EQ(1, rule.GetSeverity());
    KvoPluginIm::CSqlIntegrityRule missing;
    EXPECT_FALSE(CIntegrityScanThread::GetIntegrityRule(*m_db, 9, missing));
}

}  // namespace
}  // namespace KvoTest
