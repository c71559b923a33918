// Rule change detection: retiring entity versions (one event per run of
// consecutive ids) and the start-up comparison of stored and configured rules.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/im-plugin.h"
#include "tests/unit/im/RuleStorageFixture.h"

namespace {

using KvoPluginIm::CSystemIntegrityThread;
using KvoTest::Row;

class RuleChangesRetireTest : public KvoTest::RuleStorageFixture {
protected:
    int Retire(const std::string& where) {
        KvoCore::CSqliteDatabase db(*m_dom, "test");
        EXPECT_TRUE(db.OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
        const int rows = CSystemIntegrityThread::MarkExistingEntitiesAsDeprecated(db, wxString::FromUTF8(where));
        db.Close();
        return rows;
    }
};

TEST_F(RuleChangesRetireTest, OneEventPerRunOfConsecutiveIds) {
    Execute("INSERT INTO Entitys(entityId,integrityRuleId,supercededBy) VALUES "
            "(5,1,NULL),(6,1,NULL),(7,1,NULL),(8,2,NULL),(9,1,10),(10,1,NULL),(11,1,-1)");
    const long long before = KvoCore::TimeNowMillis();
    EXPECT_EQ(4, Retire("[supercededBy] ISNULL AND [integrityRuleId] IN (1)"));
    const long long after = KvoCore::TimeNowMillis();

    const std::vector<Row> events = Rows("SELECT * FROM IntegrityEvents ORDER BY integrityEventId");
    ASSERT_EQ(2u, events.size());
    const std::pair<const char*, const char*> runs[] = {{"5", "7"}, {"10", "10"}};
    for (size_t i = 0; i < events.size(); ++i) {
        const Row& event = events[i];
        EXPECT_EQ(runs[i].first, event.at("wasEntity"));
        EXPECT_EQ(runs[i].second, event.at("isEntity"));
        EXPECT_EQ("5", event.at("change"));
        EXPECT_EQ("1", event.at("severity"));
        EXPECT_EQ("-1", event.at("status"));
        EXPECT_GE(std::stoll(event.at("recorded")), before);
        EXPECT_LE(std::stoll(event.at("recorded")), after);
        for (const char* column : {"integrityRuleId", "user", "process", "entityType", "key", "description"})
            EXPECT_EQ("NULL", event.at(column)) << column;
    }
    EXPECT_NE(events[0].at("integrityEventId"), events[1].at("integrityEventId"));

    const std::map<std::string, std::string> expected = {{"5", "-1"}, {"6", "-1"}, {"7", "-1"},  {"8", "NULL"},
                                                         {"9", "10"}, {"10", "-1"}, {"11", "-1"}};
    std::map<std::string, std::string> stored;
    for (const Row& row : Rows("SELECT entityId, supercededBy FROM Entitys")) stored[row.at("entityId")] = row.at("supercededBy");
    EXPECT_EQ(expected, stored);
}

TEST_F(RuleChangesRetireTest, StartupCheckFlagsRulesThatDifferFromTheStoredOnes) {
    const std::string one = R"(<IntegrityRule id="1" name="One" severity="2"><FileSet base="/etc"/></IntegrityRule>)";
    const std::string two = R"(<IntegrityRule id="2" name="Two"><UserSet/></IntegrityRule>)";
    const struct {
        std::string rules;
        bool changed;
        const char* label;
    } cases[] = {
        {one + two, false, "same rules"},
        {two + one, false, "other order"},
        {R"(<IntegrityRule id="1" name="One" severity="2" type="3"><FileSet base="/etc"/></IntegrityRule>)" + two,
         false, "type only"},
        {one, true, "one rule fewer"},
        {one + R"(<IntegrityRule id="3" name="Two"><UserSet/></IntegrityRule>)", true, "another id"},
        {R"(<IntegrityRule id="1" name="One" severity="3"><FileSet base="/etc"/></IntegrityRule>)" + two, true,
         "other severity"},
        {R"(<IntegrityRule id="1" name="One" severity="2"><FileSet base="/var"/></IntegrityRule>)" + two, true,
         "other set (hash)"},
    };
    Process(one + two);
    for (const auto& c : cases) {
        m_dom->SetNil("zel.im.bRulesChanged");
        ConfigureRules(c.rules);
        m_thread->OnStartupConfigCheck();
        EXPECT_EQ(c.changed, Flag("zel.im.bRulesChanged")) << c.label;
        EXPECT_EQ("2", Value("SELECT COUNT(*) FROM IntegrityRules")) << c.label << ": the check stores nothing";
    }
}

TEST_F(RuleChangesRetireTest, StartupCheckOfAnEmptyConfigurationDeactivates) {
    Process(R"(<IntegrityRule id="1" name="One"><FileSet base="/etc"/></IntegrityRule>)");
    AddEntity(1, "/etc/passwd");
    WriteRawConfig("<SecurityConfiguration></SecurityConfiguration>\n");
    m_thread->OnStartupConfigCheck();
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM IntegrityRules"));
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM Entitys"));
}

}  // namespace
