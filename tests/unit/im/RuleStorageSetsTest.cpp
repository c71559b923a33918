// Rule storage: the rows a rule becomes, which scanners and matching read
// instead of the rule XML.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "plugins/im/im-plugin.h"
#include "tests/unit/im/RuleStorageFixture.h"

namespace {

using KvoTest::Row;

class RuleStorageSetsTest : public KvoTest::RuleStorageFixture {
protected:
    // Every monitor column of the set row: the named ones must be 1, all others 0 (never NULL).
    static void ExpectMonitored(const Row& row, const std::set<std::string>& on, const std::string& label) {
        int columns = 0;
        for (const auto& column : row) {
            if (column.first.rfind("monitor", 0) != 0) continue;
            ++columns;
            EXPECT_EQ(on.count(column.first) ? "1" : "0", column.second) << label << ": " << column.first;
        }
        EXPECT_GT(columns, 0) << label;
        for (const std::string& name : on) EXPECT_EQ(1u, row.count(name)) << label << ": no column " << name;
    }
};

TEST_F(RuleStorageSetsTest, FileSetRowHoldsBaseMonitorColumnsOperationsAndFlags) {
    Store(R"(<IntegrityRule id="7" name="Config" allowOnChange="true">
               <FileSet base="/etc/ssh" followLinks="true">
                 <Operation types="create,delete"/><Operation types=""/><Operation types="update"/>
                 <Attributes><lastModified/><SHA256/><size/><inodeNumber/></Attributes>
               </FileSet>
             </IntegrityRule>)");
    const std::vector<Row> rows = Rows("SELECT * FROM FileSets");
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("7|1|/etc/ssh|/etc/ssh|-|1|0|create,delete,update|Config",
              Value("SELECT s.integrityRuleId||'|'||onChange||'|'||directory||'|'||directorySearchBase||'|'||"
                    "ifnull(directoryRegEx,'-')||'|'||followLinks||'|'||includeRemovable||'|'||operations||'|'||r.name "
                    "FROM FileSets s JOIN IntegrityRules r USING (integrityRuleId)"));
    ExpectMonitored(rows[0], {"monitorLastModified", "monitorSha256", "monitorSize", "monitorInodeNumber"}, "file set");
}

TEST_F(RuleStorageSetsTest, SetWithoutAttributesMonitorsItsStandardList) {
    Store(R"(<IntegrityRule id="1" name="r"><FileSet base="/etc"/></IntegrityRule>)");
    const std::vector<Row> rows = Rows("SELECT * FROM FileSets");
    ASSERT_EQ(1u, rows.size());
    // contents stands for sha1 under the default mapping.
    ExpectMonitored(rows[0],
                    {"monitorCreated", "monitorGroup", "monitorLastModified", "monitorOwner", "monitorPermissions",
                     "monitorSize", "monitorSymLinkPath", "monitorSha1"},
                    "standard file set");
}

TEST_F(RuleStorageSetsTest, IncludesAndExcludesKeepTheirPatternsAndFeatures) {
    Store(R"(<IntegrityRule id="3" name="App">
               <FileSet base="/opt/app">
                 <Include key="bin/*" caseSensitive="true" executable="true"><Key pattern="lib/**"/></Include>
                 <Exclude key="/ETC/Passwd" caseSensitive="FALSE"/>
                 <Exclude><Key pattern="*.TMP"/></Exclude>
               </FileSet>
             </IntegrityRule>)");
    // One line per pattern: its include/exclude, pattern, expression, case flag and features.
    // A key compared without case is lower-cased, its expression keeps it as written;
    // no caseSensitive (2) leaves it to the host's file-name rule.
    const std::vector<Row> rows = Rows(
        "SELECT ie.entityType||'|'||(ie.entitySetId=s.entitySetId)||'|'||ie.exclude||'|'||p.pattern||'|'||"
        "p.regExPattern||'|'||p.caseSensitive||'|'||ifnull((SELECT group_concat(name||'='||value||'/'||caseSensitive) "
        "FROM Features f WHERE f.includeExcludeId=ie.includeExcludeId),'') AS line "
        "FROM Patterns p JOIN IncludeExcludes ie USING (includeExcludeId), FileSets s ORDER BY p.rowid");
    std::vector<std::string> lines;
    for (const Row& row : rows) lines.push_back(row.at("line"));
    EXPECT_EQ((std::vector<std::string>{"File|1|0|bin/*|^bin/([^/]*)$|1|executable=true/1",
                                        "File|1|0|lib/**|^lib(/.*)*$|1|executable=true/1",
                                        "File|1|1|/etc/passwd|^ETC/Passwd$|0|", "File|1|1|*.TMP|^([^/]*)\\.TMP$|2|"}),
              lines);
    EXPECT_EQ("3", Value("SELECT COUNT(*) FROM IncludeExcludes"));
    EXPECT_EQ("1", Value("SELECT COUNT(*) FROM Features"));
}

TEST_F(RuleStorageSetsTest, FeatureValueComparedWithoutCaseIsLowerCased) {
    Store(R"(<IntegrityRule id="1" name="r">
               <ProcessSet><Include key="Sshd" caseSensitive="false" user="ROOT"/></ProcessSet>
             </IntegrityRule>)");
    EXPECT_EQ("root", Value("SELECT value FROM Features"));
    EXPECT_EQ("user", Value("SELECT name FROM Features"));
    EXPECT_EQ("sshd", Value("SELECT pattern FROM Patterns"));
}

TEST_F(RuleStorageSetsTest, EveryKindGetsItsTableColumnsAndEntityType) {
    const struct {
        const char* set;
        const char* table;
        const char* entityType;
        std::set<std::string> monitored;
        const char* regEx;  // of the include key "Abc*"
    } kinds[] = {
        {R"(<DirectorySet base="/var"><Include key="Abc*"/><Attributes><owner/><ALL/></Attributes></DirectorySet>)",
         "DirectorySets", "Directory",
         {"monitorOwner", "monitorCreated", "monitorGroup", "monitorLastModified", "monitorPermissions",
          "monitorSymLinkPath", "monitorLastAccessed", "monitorDeviceNumber", "monitorInodeGenerationNumber",
          "monitorInodeNumber"},
         "^Abc([^/]*)$"},
        {R"(<GroupSet><Include key="Abc*"/><Attributes><members/></Attributes></GroupSet>)", "GroupSets", "Group",
         {"monitorMembers"}, ""},
        {R"(<InstalledSoftwareSet><Include key="Abc*"/><Attributes><version/><size/></Attributes></InstalledSoftwareSet>)",
         "InstalledSoftwareSets", "InstalledSoftware", {"monitorVersion", "monitorSize"}, ""},
        {R"(<PortSet><Include key="Abc*"/><Attributes><process/><processId/></Attributes></PortSet>)", "PortSets",
         "Port", {"monitorProcess", "monitorProcessId"}, ""},
        {R"(<ProcessSet><Include key="Abc*"/><Attributes><commandLine/></Attributes></ProcessSet>)", "ProcessSets",
         "Process", {"monitorCommandLine"}, ""},
        {R"(<UserSet><Include key="Abc*"/><Attributes><logonShell/><user/></Attributes></UserSet>)", "UserSets",
         "User", {"monitorLogonShell", "monitorUser"}, ""},
    };
    int id = 0;
    for (const auto& kind : kinds) {
        ++id;
        const std::string xml = "<IntegrityRule id=\"" + std::to_string(id) + "\" name=\"k\">" + kind.set +
                                "</IntegrityRule>";
        Store(xml.c_str());
        const std::vector<Row> rows =
            Rows(std::string("SELECT * FROM ") + kind.table + " WHERE integrityRuleId=" + std::to_string(id));
        ASSERT_EQ(1u, rows.size()) << kind.table;
        ExpectMonitored(rows[0], kind.monitored, kind.table);
        const std::string setId = rows[0].at("entitySetId");
        const std::vector<Row> ie = Rows("SELECT * FROM IncludeExcludePatterns WHERE entitySetId=" + setId +
                                         " AND entityType='" + kind.entityType + "'");
        ASSERT_EQ(1u, ie.size()) << kind.table;
        EXPECT_EQ("Abc*", ie[0].at("pattern")) << kind.table;
        // Keys that are not paths get an empty expression, not a NULL one.
        EXPECT_EQ(kind.regEx, ie[0].at("regExPattern")) << kind.table;
    }
}

TEST_F(RuleStorageSetsTest, ContentsStandsForTheConfiguredContentHashes) {
    const std::map<std::string, std::string> columns = {
        {"sha1", "monitorSha1"}, {"sha256", "monitorSha256"}, {"md5", "monitorMd5"}};
    const struct {
        const char* mapping;
        const char* attributes;
        std::set<std::string> hashes;
    } cases[] = {
        {"", "<contents/>", {"sha1"}}, {"sha256,md5", "<contents/>", {"sha256", "md5"}},
        {"SHA256", "<contents/>", {"sha256"}}, {" md5 , sha1 ", "<contents/>", {"md5", "sha1"}},
        {"sha256", "<contents/><sha1/>", {"sha256", "sha1"}}, {"sha256", "<md5/>", {"md5"}},
    };
    int id = 0;
    for (const auto& c : cases) {
        ++id;
        ReloadConfig(std::string("contentShortHandMapping=\"") + c.mapping + "\"");
        m_thread->UpdateSettingsFromConfig();
        KvoPluginIm::InitializeAttributeCounts();
        const std::string xml = "<IntegrityRule id=\"" + std::to_string(id) +
                                "\" name=\"c\"><FileSet base=\"/srv\"><Attributes>" + c.attributes +
                                "</Attributes></FileSet></IntegrityRule>";
        Store(xml.c_str());
        const std::vector<Row> rows = Rows("SELECT * FROM FileSets WHERE integrityRuleId=" + std::to_string(id));
        ASSERT_EQ(1u, rows.size()) << c.mapping;
        for (const auto& column : columns)
            EXPECT_EQ(c.hashes.count(column.first) ? "1" : "0", rows[0].at(column.second))
                << c.mapping << " " << column.second;

    }
}

TEST_F(RuleStorageSetsTest, OnChangeNeedsBothTheSetAndTheRule) {
    const struct {
        const char* allowOnChange;
        const char* onChange;
        const char* stored;
    } cases[] = {
        {"true", "true", "1"}, {"true", "false", "0"}, {"false", "true", "0"}, {"false", "false", "0"},
        {"true", nullptr, "1"},  // a set takes part by default
    };
    int id = 0;
    for (const auto& c : cases) {
        ++id;
        const std::string onChange = c.onChange ? std::string(" onChange=\"") + c.onChange + "\"" : std::string();
        const std::string xml = "<IntegrityRule id=\"" + std::to_string(id) + "\" name=\"o\" allowOnChange=\"" +
                                c.allowOnChange + "\"><UserSet" + onChange + "/></IntegrityRule>";
        Store(xml.c_str());
        EXPECT_EQ(c.stored, Value("SELECT onChange FROM UserSets WHERE integrityRuleId=" + std::to_string(id)))
            << c.allowOnChange << "/" << (c.onChange ? c.onChange : "default");
    }
}

}  // namespace
