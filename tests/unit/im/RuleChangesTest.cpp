// Rule change detection: a configuration pass keeps the rows and entity
// versions of unchanged rules, retires those of changed and removed rules,
// stores new and changed rules, and asks for a baseline of exactly those.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "plugins/im/im-plugin.h"
#include "tests/unit/im/RuleStorageFixture.h"

namespace {

using KvoTest::Row;

const char* const kRuleOne = R"(<IntegrityRule id="1" name="One" identifier="1001" severity="2" allowOnChange="true">
                                  <FileSet base="/etc"><Include key="*.conf"/></FileSet></IntegrityRule>)";
const char* const kRuleOneEdited = R"(<IntegrityRule id="1" name="One" identifier="1001" severity="2" allowOnChange="true">
                                  <FileSet base="/etc"><Include key="*.cfg"/></FileSet></IntegrityRule>)";
const char* const kRuleTwo = R"(<IntegrityRule id="2" name="Two" severity="1">
                                  <UserSet><Include key="root"/></UserSet></IntegrityRule>)";
const char* const kRuleThree = R"(<IntegrityRule id="3" name="Three"><PortSet/></IntegrityRule>)";

class RuleChangesTest : public KvoTest::RuleStorageFixture {
protected:
    // A pass after which the baseline flag, the baseline list and the events start afresh.
    void Settled(const std::string& rules, const std::string& agentAttributes = std::string()) {
        Process(rules, agentAttributes);
        m_dom->SetNil("zel.im.bNeedRebuildBaseline");
        ClearEvents();
    }
    // Set ids may be reused once a row is deleted, so a rewrite is told by a
    // mark left in the stored row, which a new row does not carry.
    void MarkFileSetRow(int ruleId) {
        Execute("UPDATE FileSets SET operations='untouched' WHERE integrityRuleId=" + std::to_string(ruleId));
    }
    bool FileSetRowRewritten(int ruleId) {
        return Value("SELECT operations FROM FileSets WHERE integrityRuleId=" + std::to_string(ruleId)) != "untouched";
    }
    std::string SupercededBy(long long entityId) {
        return Value("SELECT supercededBy FROM Entitys WHERE entityId=" + std::to_string(entityId));
    }
    std::vector<Row> RetirementEvents() { return Rows("SELECT * FROM IntegrityEvents ORDER BY integrityEventId"); }
    KvoCore::Int64Set Ids(std::initializer_list<long long> ids) { return KvoCore::Int64Set(ids); }
};

TEST_F(RuleChangesTest, UnchangedRuleKeepsItsRowsAndNeedsNoBaseline) {
    Settled(std::string(kRuleOne) + kRuleTwo);
    MarkFileSetRow(1);
    const long long entity = AddEntity(1, "/etc/a.conf");
    const long long processed = Raised("zel.im.configProcessed");
    m_dom->Set("zel.im.bRulesChanged", true);

    Process(std::string(kRuleOne) + kRuleTwo);
    EXPECT_FALSE(FileSetRowRewritten(1));
    EXPECT_EQ("NULL", SupercededBy(entity));
    EXPECT_TRUE(RetirementEvents().empty());
    EXPECT_TRUE(FlagIsNil("zel.im.bNeedRebuildBaseline"));
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty());
    EXPECT_TRUE(FlagIsNil("zel.im.bRulesChanged"));
    EXPECT_EQ(processed + 1, Raised("zel.im.configProcessed"));
}

TEST_F(RuleChangesTest, EditedRuleIsRetiredStoredAgainAndRescanned) {
    Settled(std::string(kRuleOne) + kRuleTwo);
    MarkFileSetRow(1);
    const long long first = AddEntity(1, "/etc/a.conf");
    const long long second = AddEntity(1, "/etc/b.conf");
    const long long other = AddEntity(2, "root");

    Process(std::string(kRuleOneEdited) + kRuleTwo);
    EXPECT_EQ("-1", SupercededBy(first));
    EXPECT_EQ("-1", SupercededBy(second));
    EXPECT_EQ("NULL", SupercededBy(other)) << "an unchanged rule's entities stay current";
    const std::vector<Row> events = RetirementEvents();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("5", events[0].at("change"));
    EXPECT_EQ(std::to_string(first), events[0].at("wasEntity"));
    EXPECT_EQ(std::to_string(second), events[0].at("isEntity"));

    EXPECT_EQ(Ids({1}), m_thread->IncrementalRuleIds());
    EXPECT_TRUE(Flag("zel.im.bNeedRebuildBaseline"));

    // Only the new storing's rows remain for scanners and matching to read.
    EXPECT_TRUE(FileSetRowRewritten(1));
    EXPECT_EQ("1", Value("SELECT COUNT(*) FROM FileSets WHERE integrityRuleId=1"));
    const std::vector<Row> patterns = Rows("SELECT * FROM IncludeExcludePatterns WHERE entityType='File'");
    ASSERT_EQ(1u, patterns.size());
    EXPECT_EQ("*.cfg", patterns[0].at("pattern"));
    EXPECT_EQ("2", Value("SELECT COUNT(*) FROM IncludeExcludes"));
    EXPECT_EQ("2", Value("SELECT COUNT(*) FROM Patterns"));
}

TEST_F(RuleChangesTest, RemovedRuleIsDeletedAndRetiredWithoutBaseline) {
    Settled(std::string(kRuleOne) + kRuleTwo);
    const long long entity = AddEntity(2, "root");
    const long long kept = AddEntity(1, "/etc/a.conf");

    Process(kRuleOne);
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM IntegrityRules WHERE integrityRuleId=2"));
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM UserSets"));
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM IncludeExcludes WHERE entityType='User'"));
    EXPECT_EQ("-1", SupercededBy(entity));
    EXPECT_EQ("NULL", SupercededBy(kept));
    ASSERT_EQ(1u, RetirementEvents().size());
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty());
    EXPECT_TRUE(FlagIsNil("zel.im.bNeedRebuildBaseline")) << "nothing left to rescan";
    EXPECT_EQ(1u, KvoPluginIm::GetInactiveRuleStats().count(wxT("Deleted - Two")));
}

TEST_F(RuleChangesTest, AddedRuleIsStoredAndRescannedAlone) {
    Settled(kRuleOne);
    MarkFileSetRow(1);
    Process(std::string(kRuleOne) + kRuleTwo);
    EXPECT_FALSE(FileSetRowRewritten(1));
    EXPECT_EQ("1", Value("SELECT COUNT(*) FROM UserSets WHERE integrityRuleId=2"));
    EXPECT_EQ(Ids({2}), m_thread->IncrementalRuleIds());
    EXPECT_TRUE(Flag("zel.im.bNeedRebuildBaseline"));
}

TEST_F(RuleChangesTest, WhenEveryRuleIsNewOrChangedTheWholeBaselineIsRebuilt) {
    Process(std::string(kRuleOne) + kRuleTwo);
    EXPECT_TRUE(Flag("zel.im.bNeedRebuildBaseline"));
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty());

    m_dom->SetNil("zel.im.bNeedRebuildBaseline");
    Process(std::string(kRuleOneEdited) + kRuleThree);  // one changed, one new, one removed
    EXPECT_TRUE(Flag("zel.im.bNeedRebuildBaseline"));
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty());
}

TEST_F(RuleChangesTest, OnlyHeaderFieldsThatNeedARescanCountAsChange) {
    // A hash given in the rule is taken as it is, so each case differs from
    // the stored rule in the one field it names. (What the configuration's own
    // hash leaves out is ConfigurationTest's: type and confidential are left
    // out of both.)
    auto rule = [](const std::string& header) {
        return "<IntegrityRule id=\"1\" " + header + "><FileSet base=\"/etc\"/></IntegrityRule>";
    };
    const std::string stored = rule(R"(hash="h1" name="One" identifier="1001" severity="2" allowOnChange="true" type="1")");
    const struct {
        std::string rule;
        bool changed;
    } cases[] = {
        {rule(R"(hash="h1" name="One" identifier="1001" severity="2" allowOnChange="true" type="4" confidential="true")"),
         false},
        {rule(R"(hash="h2" name="One" identifier="1001" severity="2" allowOnChange="true" type="1")"), true},
        {rule(R"(hash="h1" name="Uno" identifier="1001" severity="2" allowOnChange="true" type="1")"), true},
        {rule(R"(hash="h1" name="One" identifier="1002" severity="2" allowOnChange="true" type="1")"), true},
        {rule(R"(hash="h1" name="One" identifier="1001" severity="3" allowOnChange="true" type="1")"), true},
        {rule(R"(hash="h1" name="One" identifier="1001" severity="2" allowOnChange="false" type="1")"), true},
    };
    for (const auto& c : cases) {
        Execute("DELETE FROM Entitys; DELETE FROM IntegrityEvents;");
        Settled(stored + kRuleTwo);
        MarkFileSetRow(1);
        const long long entity = AddEntity(1, "/etc/a.conf");
        Process(c.rule + kRuleTwo);
        EXPECT_EQ(c.changed, FileSetRowRewritten(1)) << c.rule;
        EXPECT_EQ(c.changed ? "-1" : "NULL", SupercededBy(entity)) << c.rule;
        EXPECT_EQ(c.changed, Flag("zel.im.bNeedRebuildBaseline")) << c.rule;
    }
}

TEST_F(RuleChangesTest, NewContentMappingChangesOnlyRulesMonitoringContents) {
    const std::string rules =
        R"(<IntegrityRule id="1" name="contents"><FileSet base="/etc"><Attributes><contents/></Attributes></FileSet></IntegrityRule>
           <IntegrityRule id="2" name="sha1 by name"><FileSet base="/etc"><Attributes><sha1/></Attributes></FileSet></IntegrityRule>
           <IntegrityRule id="3" name="users"><UserSet/></IntegrityRule>)";
    Settled(rules);
    MarkFileSetRow(2);
    Process(rules, "contentShortHandMapping=\"sha256\"");
    EXPECT_EQ(Ids({1}), m_thread->IncrementalRuleIds());
    EXPECT_FALSE(FileSetRowRewritten(2));
    EXPECT_EQ("1", Value("SELECT monitorSha256 FROM FileSets WHERE integrityRuleId=1"));
    EXPECT_EQ("0", Value("SELECT monitorSha1 FROM FileSets WHERE integrityRuleId=1"));

    // A mapping that only differs in its writing names the same hashes.
    m_dom->SetNil("zel.im.bNeedRebuildBaseline");
    Process(rules, "contentShortHandMapping=\"SHA256\"");
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty());
    EXPECT_TRUE(FlagIsNil("zel.im.bNeedRebuildBaseline"));
}

TEST_F(RuleChangesTest, RuleChangesWhenItsVariablesExpandDifferently) {
    const std::string rules =
        std::string(R"(<IntegrityRule id="1" name="Data"><FileSet base="${env.RS_TEST_DATA}/x"/></IntegrityRule>)") +
        kRuleTwo;
    SetEnv("RS_TEST_DATA", "/d1");
    Settled(rules);
    ASSERT_EQ("/d1/x", Value("SELECT directorySearchBase FROM FileSets WHERE integrityRuleId=1"));

    Process(rules);
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty()) << "same expansion, same XML: no change";

    SetEnv("RS_TEST_DATA", "/d2");
    Process(rules);
    EXPECT_EQ(Ids({1}), m_thread->IncrementalRuleIds());
    EXPECT_EQ("/d2/x", Value("SELECT directorySearchBase FROM FileSets WHERE integrityRuleId=1"));

    unsetenv("RS_TEST_DATA");
    ClearEvents();
    Process(rules);
    EXPECT_EQ(Ids({1}), m_thread->IncrementalRuleIds());
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM FileSets WHERE integrityRuleId=1"));
    EXPECT_EQ(std::vector<std::string>{"8003|1|Data|RS_TEST_DATA"}, EventsWithId(8003));
}

TEST_F(RuleChangesTest, EmptyConfigurationDeactivatesInsteadOfRetiring) {
    Settled(std::string(kRuleOne) + kRuleTwo);
    AddEntity(1, "/etc/a.conf");
    Execute("INSERT INTO Scans(startTime,incrementalScan) VALUES (1,0);"
            "INSERT INTO IntegrityEvents(change) VALUES (2);");
    m_dom->Set("zel.im.bNeedIncrementalScan", true);
    m_dom->Set("zel.im.bNeedPseudoRealtimeScan", true);
    m_dom->Set("zel.im.bNeedRebuildBaseline", true);
    const long long processed = Raised("zel.im.configProcessed");

    WriteRawConfig("<SecurityConfiguration/>\n");
    m_thread->OnRulesChanged();
    for (const char* table : {"IntegrityRules", "FileSets", "UserSets", "IncludeExcludes", "Patterns", "Entitys",
                              "Scans", "IntegrityEvents"})
        EXPECT_EQ("0", Value(std::string("SELECT COUNT(*) FROM ") + table)) << table;
    for (const char* flag : {"zel.im.bNeedIncrementalScan", "zel.im.bNeedPseudoRealtimeScan",
                             "zel.im.bNeedRebuildBaseline"})
        EXPECT_TRUE(FlagIsNil(flag)) << flag;
    EXPECT_EQ(processed + 1, Raised("zel.im.configProcessed"));
}

TEST_F(RuleChangesTest, DatabaseErrorRollsThePassBackAndKeepsItPending) {
    Settled(kRuleOne);
    const long long entity = AddEntity(1, "/etc/a.conf");
    Execute("CREATE TRIGGER refuse BEFORE INSERT ON FileSets BEGIN SELECT RAISE(ABORT, 'refused'); END;");

    Process(kRuleOneEdited);
    EXPECT_EQ("1", Value("SELECT COUNT(*) FROM FileSets WHERE integrityRuleId=1")) << "the old rows are back";
    EXPECT_EQ("NULL", SupercededBy(entity));
    EXPECT_TRUE(RetirementEvents().empty());
    EXPECT_TRUE(Flag("zel.im.bRulesChanged")) << "the loop must try again";
    EXPECT_TRUE(FlagIsNil("zel.im.bNeedRebuildBaseline"));
    EXPECT_TRUE(m_thread->IncrementalRuleIds().empty());

    Execute("DROP TRIGGER refuse;");
    Process(std::string(kRuleOneEdited) + kRuleTwo);
    EXPECT_EQ("-1", SupercededBy(entity));
    EXPECT_EQ("*.cfg", Value("SELECT pattern FROM IncludeExcludePatterns WHERE entityType='File'"));
    EXPECT_TRUE(FlagIsNil("zel.im.bRulesChanged"));
}

TEST_F(RuleChangesTest, UnopenableDatabaseKeepsThePassPending) {
    m_thread->CloseSystemIntegrityDb();
    m_dom->Set("zel.im.dbPath", m_dir.file("missing/si.db"));
    Process(kRuleOne);
    EXPECT_TRUE(Flag("zel.im.bRulesChanged"));
    EXPECT_TRUE(FlagIsNil("zel.im.bNeedRebuildBaseline"));
}

TEST_F(RuleChangesTest, UnreadableRulesLeaveTheStoredRulesInForce) {
    Settled(kRuleOne);
    MarkFileSetRow(1);
    m_dom->Set("zel.im.bRulesChanged", true);
    Process(R"(<IntegrityRule id="one" name="not a number"/>)");
    EXPECT_FALSE(FileSetRowRewritten(1));
    EXPECT_EQ("1", Value("SELECT COUNT(*) FROM IntegrityRules"));
    EXPECT_TRUE(FlagIsNil("zel.im.bRulesChanged")) << "retrying cannot help until the configuration changes";
}

TEST_F(RuleChangesTest, RepeatedRuleIdStoresTheFirstRule) {
    Process(std::string(kRuleOne) + R"(<IntegrityRule id="1" name="Again"><UserSet/></IntegrityRule>)");
    EXPECT_EQ("One", Value("SELECT name FROM IntegrityRules"));
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM UserSets"));
    EXPECT_TRUE(FlagIsNil("zel.im.bRulesChanged"));
}

}  // namespace
