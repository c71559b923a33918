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

}  // namespace
}  // namespace KvoTest
