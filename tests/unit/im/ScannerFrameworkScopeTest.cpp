// What a scan covers: the scope a scanner reads from its scan's rows and the
// entity sets it hands to matching.
#include <algorithm>

#include "core/XMLObjectList.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using KvoPluginIm::CSqlSubscan;
using KvoPluginIm::CSqlUserEntitySets;
using Step = CIntegrityScanThread::ScanStep;

std::vector<long long> Sorted(const KvoCore::Int64Set& ids) {
    std::vector<long long> sorted(ids.begin(), ids.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

class ScannerScopeTest : public ScannerFrameworkFixture {
protected:
    // User sets 1 to 4: rules 1, 1, 2, 3; only sets 1 and 3 take part in real time.
    void AddUserSets() {
        m_db->ExecuteUpdate(
            "INSERT INTO [UserSets] ([entitySetId],[integrityRuleId],[onChange]) VALUES "
            "(1,1,1),(2,1,0),(3,2,1),(4,3,0);");
    }
    void AddScopeRows(long long scanId, const std::string& setIds, const std::string& ruleIds) {
        for (const std::string& id : Split(setIds))
            m_db->ExecuteUpdate(wxString::Format(
                "INSERT INTO [ScanEntitySetIds] ([scanId],[entityType],[entitySetId]) VALUES (%lld,'User',%s);", scanId,
                id));
        for (const std::string& id : Split(ruleIds))
            m_db->ExecuteUpdate(wxString::Format(
                "INSERT INTO [ScanIntegrityRuleIds] ([scanId],[integrityRuleId]) VALUES (%lld,%s);", scanId, id));
    }
    static std::vector<std::string> Split(const std::string& list) {
        std::vector<std::string> items;
        std::stringstream in(list);
        for (std::string item; std::getline(in, item, ',');)
            if (!item.empty()) items.push_back(item);
        return items;
    }
};

struct StartupCase {
    int scanType;
    std::vector<long long> entitySets;
};

// Rules listed for the scan limit every type; entity sets are listed for an
// incremental scan and are the real-time sets for a pseudo-real-time scan.
// Rows of another scan never leak in.
TEST_F(ScannerScopeTest, StartupReadsScopeOfItsOwnScan) {
    AddUserSets();
    const std::vector<StartupCase> cases = {
        {0, {}},
        {1, {2, 4}},
        {2, {}},
        {3, {1, 3}},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.scanType);
        const long long other = AddScan(c.scanType);
        const long long scanId = AddScan(c.scanType);
        AddScopeRows(other, "1,3", "9");
        AddScopeRows(scanId, "2,4", "1,3");
        auto scanner = NewScanner(AddSubscan(scanId, 0), Step::StepInit);
        ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
        ASSERT_TRUE(scanner->OnThreadStartup());
        EXPECT_EQ(c.scanType, scanner->GetScanType());
        EXPECT_EQ(c.entitySets, Sorted(scanner->GetEntitySetIdsInScope()));
        EXPECT_EQ((std::vector<long long>{1, 3}), Sorted(scanner->GetRuleIdsInScope()));
        EXPECT_EQ(3000, scanner->GetCommitIntervalMsec());
    }
}

TEST_F(ScannerScopeTest, StartupWithoutScanRowAbortsTheScan) {
    const long long subscanId = AddSubscan(4711, 0);
    auto scanner = NewScanner(subscanId, Step::StepInit);
    ASSERT_TRUE(scanner->OpenSystemIntegrityDb());
    EXPECT_FALSE(scanner->OnThreadStartup());
    scanner->CloseSystemIntegrityDb();
    Run(*scanner);
    EXPECT_TRUE(scanner->Visits().empty());
    EXPECT_TRUE(scanner->IsFinished());
    EXPECT_EQ(999999999, Stored(subscanId).scanStep);
    EXPECT_NE(std::string::npos, LogText().find("Unable to retrieve data for scan ID 4711;"));
    EXPECT_NE(std::string::npos, AgentEvents().find("3010|User scan aborted"));
}

struct SetFilterCase {
    const char* name;
    KvoCore::Int64Set entitySets;
    KvoCore::Int64Set rules;
    std::vector<long long> loaded;
};

// The base matching step hands every set in scope, in entitySetId order, to
// MatchSet with its rule, patterns, their include/exclude ids and the walk
// depth they need. A set whose rule row is gone is skipped; a set that cannot
// be matched aborts the scan.
TEST_F(ScannerScopeTest, MatchingStepHandsEachSetInScopeToMatchSet) {
    AddUserSets();
    m_db->ExecuteUpdate(
        "INSERT INTO [IntegrityRules] ([integrityRuleId],[name],[severity]) VALUES (1,'One',1),(2,'Two',2);");
    m_db->ExecuteUpdate(
        "INSERT INTO [IncludeExcludes] ([includeExcludeId],[entityType],[entitySetId],[exclude]) VALUES "
        "(21,'User',2,0),(22,'User',2,1),(23,'Group',1,0);");
    m_db->ExecuteUpdate(
        "INSERT INTO [Patterns] ([includeExcludeId],[pattern],[regExPattern],[caseSensitive]) VALUES "
        "(21,'a/b/*','',0),(22,'a/x','',0),(23,'g/h/i/j','',0);");
    HookScript script;
    script.baseHooks = {200000};
    const long long scanId = AddScan(0);
    const long long subscanId = AddSubscan(scanId, 0);
    auto scanner = NewScanner(subscanId, Step::StepInit, script);
    Run(*scanner);

    // set:rule:name:depth:patterns:ids:sets; set 1 has no patterns of its own (set 1 of Group is another set).
    std::vector<std::string> calls;
    for (const MatchCall& call : scanner->MatchCalls()) {
        std::string ids;
        for (long long id : Sorted(call.includeExcludeIds)) ids += std::to_string(id) + ",";
        calls.push_back(wxString::Format("%lld:%lld:%s:%lu:%zu:%s:%zu", call.entitySetId, call.ruleId, call.ruleName,
                                         call.maxDepth, call.patterns, ids, call.setsInCollection)
                            .utf8_string());
    }
    EXPECT_EQ((std::vector<std::string>{"1:1:One:2147483647:0::4", "2:1:One:3:2:21,22,:4", "3:2:Two:2147483647:0::4"}),
              calls)
        << "set 4's rule 3 is not stored";
    EXPECT_NE(std::string::npos, LogText().find("User entity set 4 names integrity rule 3, which is not stored"));
    EXPECT_EQ(999999999, Stored(subscanId).scanStep);
    EXPECT_EQ(std::string::npos, AgentEvents().find("3010|"));

    HostScript failing;
    failing.failMatchOfSet = 2;
    auto aborted = NewScanner(AddSubscan(AddScan(0), 0), Step::StepInit, script, failing);
    Run(*aborted);
    EXPECT_EQ(2u, aborted->MatchCalls().size()) << "no set after the one that failed";
    const std::vector<HookVisit> stopped = {{100000, 100000, true}, {200000, 200000, true}};
    EXPECT_EQ(stopped, aborted->Visits());
    EXPECT_NE(std::string::npos, AgentEvents().find("3010|User scan aborted"));
}

}  // namespace
}  // namespace KvoTest
