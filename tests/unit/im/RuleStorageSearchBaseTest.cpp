// Rule storage: base directories become a search base (where a scan starts
// walking) and, for wildcard bases, an expression; unusable bases are refused
// with an agent event and leave no row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/im/RuleStorageFixture.h"

namespace {

using KvoTest::Row;

class RuleStorageSearchBaseTest : public KvoTest::RuleStorageFixture {
protected:
    // Stores a rule with one DirectorySet of this base; the row, if one was written.
    std::vector<Row> StoreBase(int ruleId, const std::string& base) {
        const std::string xml = "<IntegrityRule id=\"" + std::to_string(ruleId) +
                                "\" name=\"Search|bases\"><DirectorySet base=\"" + base +
                                "\"><Include key=\"*\"/></DirectorySet></IntegrityRule>";
        Store(xml.c_str());
        return Rows("SELECT * FROM DirectorySets WHERE integrityRuleId=" + std::to_string(ruleId));
    }
};

TEST_F(RuleStorageSearchBaseTest, BasesGiveSearchBaseAndExpression) {
    SetEnv("RS_TEST_HOME", "/root");
    SetEnv("RS_TEST_SPECIAL", "/data/a&b\\c");
    const struct {
        const char* base;
        const char* searchBase;
        const char* regEx;
    } cases[] = {
        {"/var/log", "/var/log", "NULL"},
        {"/var/log/*.d", "/var/log", "^/var/log/([^/]*)\\.d(/.+)?$"},
        {"/var/log/*.d/?", "/var/log", "^/var/log/([^/]*)\\.d/([^/]{1})(/.+)?$"},
        {"/*.d", "/", "^/([^/]*)\\.d(/.+)?$"},
        {"/a/./b/../c", "/a/c", "NULL"},
        {"/etc//ssh/", "/etc/ssh", "NULL"},
        {"/", "/", "NULL"},
        // An escaped star is a plain character, not a wildcard.
        {"/opt/\\*/bin", "/opt/\\*/bin", "NULL"},
        {"${env.RS_TEST_HOME}/logs", "/root/logs", "NULL"},
        {"${env.RS_TEST_HOME}/logs/*", "/root/logs", "^/root/logs/([^/]*)(/.+)?$"},
        // Replacement metacharacters in a value stand for themselves.
        {"${env.RS_TEST_SPECIAL}", "/data/a&b\\c", "NULL"},
        // A variable outside env. expands to nothing.
        {"/x${build.dir}/y", "/x/y", "NULL"},
    };
    int id = 0;
    for (const auto& c : cases) {
        const std::vector<Row> rows = StoreBase(++id, c.base);
        ASSERT_EQ(1u, rows.size()) << c.base;
        EXPECT_EQ(c.base, rows[0].at("directory")) << "the base is kept as written";
        EXPECT_EQ(c.searchBase, rows[0].at("directorySearchBase")) << c.base;
        EXPECT_EQ(c.regEx, rows[0].at("directoryRegEx")) << c.base;
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(RuleStorageSearchBaseTest, UnusableBasesAreRefusedWithEvent8004) {
    SetEnv("RS_TEST_RELATIVE", "relative/dir");
    SetEnv("RS_TEST_EMPTY", "");
    const struct {
        const char* base;
        const char* event;
    } cases[] = {
        {"/opt/*/bin", "8004|1|Search\xC2\xA6" "bases|/opt/*/bin"},
        {"/opt/a?/b/c*", "8004|2|Search\xC2\xA6" "bases|/opt/a?/b/c*"},
        {"var/log", "8004|3|Search\xC2\xA6" "bases|var/log"},
        {"./var", "8004|4|Search\xC2\xA6" "bases|./var"},
        {"", "8004|5|Search\xC2\xA6" "bases| "},
        {"${env.RS_TEST_RELATIVE}", "8004|6|Search\xC2\xA6" "bases|$ {env.RS_TEST_RELATIVE}"},
        {"${env.RS_TEST_EMPTY}", "8004|7|Search\xC2\xA6" "bases|$ {env.RS_TEST_EMPTY}"},
    };
    int id = 0;
    for (const auto& c : cases) {
        EXPECT_TRUE(StoreBase(++id, c.base).empty()) << c.base;
        EXPECT_EQ(std::vector<std::string>{c.event}, EventsWithId(8004)) << c.base;
        ClearEvents();
    }
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM IncludeExcludes")) << "a refused set stores no includes";
    EXPECT_EQ("7", Value("SELECT COUNT(*) FROM IntegrityRules")) << "the rest of each rule is stored";
}

TEST_F(RuleStorageSearchBaseTest, UndefinedVariableIsEvent8003AndNoSet) {
    unsetenv("RS_TEST_UNDEFINED");
    Store(R"(<IntegrityRule id="4" name="Homes">
               <DirectorySet base="${env.RS_TEST_UNDEFINED}/logs"/><FileSet base="/etc"/>
             </IntegrityRule>)");
    EXPECT_EQ(std::vector<std::string>{"8003|4|Homes|RS_TEST_UNDEFINED"}, Events());
    EXPECT_EQ("0", Value("SELECT COUNT(*) FROM DirectorySets"));
    EXPECT_EQ("1", Value("SELECT COUNT(*) FROM FileSets")) << "the rule's other sets are stored";
    EXPECT_TRUE(m_thread->HasRuleProblem());
}

// A value that names itself would expand for ever: expansion stops after 32 rounds.
TEST_F(RuleStorageSearchBaseTest, VariablesExpandAtMost32Times) {
    SetEnv("RS_TEST_LOOP", "${env.RS_TEST_LOOP}");
    const std::vector<Row> rows = StoreBase(1, "/x/${env.RS_TEST_LOOP}");
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("/x/${env.RS_TEST_LOOP}", rows[0].at("directorySearchBase"));
}

}  // namespace
