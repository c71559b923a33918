// Include/exclude matching of keys against sets stored by the rule storage.
#include <gtest/gtest.h>

#include <string>

#include "tests/unit/im/KeyMatchFixture.h"

namespace {

using KvoTest::KeyMatchFixture;
using KvoTest::NameKeyMatch;
using KvoTest::PathKeyMatch;
using KvoTest::StoredSet;

class KeyMatchIncludeExcludeTest : public KeyMatchFixture {};

struct KeyCase {
    const char* key;
    bool matches;
};

TEST_F(KeyMatchIncludeExcludeTest, KeyNeedsAnIncludeGroupAndNoExcludeGroup) {
    Store(R"(<IntegrityRule id="1" name="App">
               <FileSet base="/opt/app">
                 <Include key="bin/*"/><Include key="**/*.conf"/>
                 <Exclude key="**/secret.conf"/><Exclude key="tmp/**"/>
               </FileSet>
             </IntegrityRule>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored));
    ASSERT_EQ(4u, stored.ids.size());
    const PathKeyMatch matcher(true);
    const KeyCase cases[] = {
        {"/opt/app/bin/tool", true},
        {"/opt/app/bin/sub/tool", false},  // "*" stays within one directory
        {"/opt/app/app.conf", true},       // "**" also stands for no directory at all
        {"/opt/app/etc/deep/app.conf", true},
        {"/opt/app/etc/secret.conf", false},  // exclusion wins over inclusion
        {"/opt/app/secret.conf", false},
        {"/opt/app/tmp/cache.conf", false},
        {"/opt/app/lib/libapp.so", false},
        {"/opt/app/bin", false},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(c.matches, Matches(matcher, stored, c.key)) << c.key;
}

TEST_F(KeyMatchIncludeExcludeTest, IncludeGroupMatchesOnlyWhenAllItsPatternsMatch) {
    Store(R"(<IntegrityRule id="1" name="App">
               <FileSet base="/srv"><Include><Key pattern="**/*.conf"/><Key pattern="etc/**"/></Include></FileSet>
             </IntegrityRule>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored));
    const PathKeyMatch matcher(true);
    const KeyCase cases[] = {
        {"/srv/etc/a.conf", true},
        {"/srv/var/a.conf", false},
        {"/srv/etc/a.txt", false},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(c.matches, Matches(matcher, stored, c.key)) << c.key;
}

TEST_F(KeyMatchIncludeExcludeTest, SetWithoutIncludesMatchesEveryKeyAndExcludesNothing) {
    Store(R"(<IntegrityRule id="1" name="All"><FileSet base="/etc"/></IntegrityRule>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored));
    ASSERT_TRUE(stored.patterns.empty());
    const PathKeyMatch matcher(true);
    EXPECT_TRUE(Matches(matcher, stored, "/etc/passwd"));
    EXPECT_TRUE(Matches(matcher, stored, "/etc/ssh/sshd_config"));
    int reason = -1;
    EXPECT_FALSE(matcher.EntityIsExcluded(stored.set->GetSearchBase(), wxT("/etc/passwd"), 0, stored.sets.get(),
                                          *stored.set, stored.features, stored.patterns, stored.ids, reason));
}

TEST_F(KeyMatchIncludeExcludeTest, ExcludedKeyIsReportedWhateverTheIncludes) {
    Store(R"(<IntegrityRule id="1" name="App">
               <FileSet base="/opt/app"><Include key="bin/*"/><Exclude key="**/*.bak"/></FileSet>
             </IntegrityRule>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored));
    const PathKeyMatch matcher(true);
    const KeyCase cases[] = {{"/opt/app/bin/tool.bak", true}, {"/opt/app/lib/x.bak", true}, {"/opt/app/bin/tool", false}};
    for (const KeyCase& c : cases) {
        int reason = -1;
        EXPECT_EQ(c.matches,
                  matcher.EntityIsExcluded(stored.set->GetSearchBase(), wxString::FromUTF8(c.key), 0,
                                           stored.sets.get(), *stored.set, stored.features, stored.patterns,
                                           stored.ids, reason))
            << c.key;
    }
}

// File names respect case on Linux; user names ignore it unless the type says otherwise.
TEST_F(KeyMatchIncludeExcludeTest, PatternsFollowTheirCaseFlagOrTheDefaultOfTheirType) {
    const struct {
        bool user;
        const char* caseAttribute;  // as written in the rule; "" for none
        const char* key;
        bool matches;
    } cases[] = {
        {false, R"(caseSensitive="false")", "/d/a.CONF", true}, {false, R"(caseSensitive="true")", "/d/a.CONF", false},
        {false, "", "/d/a.CONF", false}, {false, R"(caseSensitive="true")", "/d/a.Conf", true},
        {false, "", "/d/a.Conf", true}, {true, R"(caseSensitive="false")", "ADMIN", true},
        {true, R"(caseSensitive="true")", "ADMIN", false}, {true, "", "ADMIN", true},
        {true, R"(caseSensitive="true")", "admin", true}, {true, "", "operator", false},
    };
    int id = 0, files = 0, users = 0;
    for (const auto& c : cases) {
        const std::string set = c.user ? "<UserSet><Include key=\"adm?n\" " + std::string(c.caseAttribute) + "/></UserSet>"
                                       : "<FileSet base=\"/d\"><Include key=\"*.Conf\" " + std::string(c.caseAttribute) +
                                             "/></FileSet>";
        Store(("<IntegrityRule id=\"" + std::to_string(++id) + "\" name=\"r\">" + set + "</IntegrityRule>").c_str());
        StoredSet stored;
        if (c.user) {
            ASSERT_NO_FATAL_FAILURE((Load<KvoPluginIm::CSqlUserEntitySets>(stored, wxT("User"), users++)));
            EXPECT_EQ(c.matches, Matches(NameKeyMatch(), stored, c.key)) << c.caseAttribute << " " << c.key;
        } else {
            ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, files++));
            EXPECT_EQ(c.matches, Matches(PathKeyMatch(true), stored, c.key)) << c.caseAttribute << " " << c.key;
        }
    }
}

TEST_F(KeyMatchIncludeExcludeTest, FeatureTheTypeDoesNotKnowNeverMatches) {
    Store(R"(<IntegrityRule id="1" name="r"><UserSet><Include key="*" lockedOut="false"/></UserSet></IntegrityRule>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE((Load<KvoPluginIm::CSqlUserEntitySets>(stored, wxT("User"))));
    ASSERT_EQ(1u, stored.features.size());
    EXPECT_FALSE(Matches(NameKeyMatch(), stored, "alice"));
}

struct ReasonCase {
    const char* include;
    const char* exclude;
    const char* key;
    int reason;
};

// The reason tells a caller how close an unmatched key came to the monitored area.
TEST_F(KeyMatchIncludeExcludeTest, UnmatchedReasonSaysWhatFailed) {
    const ReasonCase cases[] = {
        {"etc/*.conf", "none", "var/a.conf", 1},
        {"etc/*.conf", "none", "etc/a.txt", 2},
        {"etc/a.conf", "none", "etc/b.conf", 3},
        {"etc/*", "etc/*", "etc/a.conf", 4},
        {"etc/*", "etc/*.conf", "etc/a.conf", 5},
        {"etc/*", "etc/a.conf", "etc/a.conf", 6},
        {"*", "*.conf", "a.conf", 5},
        {"*", "a.*", "a.conf", 6},  // no directory part
    };
    int id = 0;
    for (const ReasonCase& c : cases) {
        Store(("<IntegrityRule id=\"" + std::to_string(++id) + "\" name=\"r\"><FileSet base=\"/b\"><Include key=\"" +
               c.include + "\"/><Exclude key=\"" + c.exclude + "\"/></FileSet></IntegrityRule>")
                  .c_str());
        StoredSet stored;
        ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, id - 1));
        int reason = -1;
        EXPECT_FALSE(Matches(PathKeyMatch(true), stored, std::string("/b/") + c.key, reason)) << c.key;
        EXPECT_EQ(c.reason, reason) << c.include << " / " << c.exclude << ": " << c.key;
    }
}

}  // namespace

namespace {

TEST(KeyMatchLoading, UnreadableDatabaseIsReportedNotThrown) {
    wxSQLite3Database db;
    db.Open(wxT(":memory:"));
    KvoPluginIm::CSqlIncludeExcludeFeatures features;
    KvoPluginIm::CSqlIncludeExcludePatterns patterns;
    EXPECT_FALSE(KvoPluginIm::CSystemIntegrityKeyMatch::GetFeatures(db, wxT("File"), 1, features));
    EXPECT_FALSE(KvoPluginIm::CSystemIntegrityKeyMatch::GetPatterns(db, wxT("File"), 1, patterns));
    db.Close();
}

}  // namespace
