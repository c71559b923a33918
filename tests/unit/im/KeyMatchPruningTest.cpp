// Descent pruning and walk depth: a scanner may skip a directory only when no
// key below it can match, and must still reach every key that can.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/unit/im/KeyMatchFixture.h"

namespace {

using KvoTest::KeyMatchFixture;
using KvoTest::PathKeyMatch;
using KvoTest::StoredSet;

class KeyMatchPruningTest : public KeyMatchFixture {
protected:
    bool ShouldDescend(const StoredSet& stored, const std::string& dir) const {
        return m_matcher.ShouldDescend(stored.features, stored.patterns, stored.ids, stored.set->GetSearchBase(),
                                       wxString::FromUTF8(dir));
    }
    void StoreFileSet(const std::string& base, const std::string& children) {
        Store(("<IntegrityRule id=\"" + std::to_string(++m_ruleId) + "\" name=\"r\"><FileSet base=\"" + base +
               "\">" + children + "</FileSet></IntegrityRule>")
                  .c_str());
    }

    const PathKeyMatch m_matcher{true};
    int m_ruleId = 0;
};

// A tree under /r: every directory and the files in each.
const std::vector<std::string> kDirs = {"/r/etc", "/r/etc/ssh", "/r/etc/ssh/keys", "/r/var", "/r/var/log",
                                        "/r/var/log/app", "/r/bin"};
const std::vector<std::string> kFileNames = {"a.conf", "b.log", "tool"};

struct PatternSetCase {
    const char* children;  // includes and excludes of the set
};

// Walking only where ShouldDescend allows must lose no matching key.
TEST_F(KeyMatchPruningTest, NoMatchingKeyLiesBelowAPrunedDirectory) {
    const PatternSetCase cases[] = {
        {R"(<Include key="etc/ssh/*.conf"/>)"},
        {R"(<Include key="**/*.log"/>)"},
        {R"(<Include key="var/*/app/*"/><Include key="bin/tool"/>)"},
        {R"(<Include key="etc/**"/><Exclude key="etc/ssh/**"/>)"},
        {R"(<Include key="*/log/*"/>)"},
        {R"(<Include key="ETC/SSH/*" caseSensitive="false"/>)"},
    };
    size_t position = 0;
    for (const PatternSetCase& c : cases) {
        StoreFileSet("/r", c.children);
        StoredSet stored;
        ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, position++));
        for (const std::string& dir : kDirs) {
            if (ShouldDescend(stored, dir)) continue;
            for (const std::string& other : kDirs) {
                if (other != dir && other.rfind(dir + "/", 0) != 0) continue;
                for (const std::string& name : kFileNames)
                    EXPECT_FALSE(Matches(m_matcher, stored, other + "/" + name))
                        << c.children << ": pruned " << dir << " hides " << other << "/" << name;
            }
        }
    }
}

struct DescendCase {
    const char* dir;
    bool descend;
};

TEST_F(KeyMatchPruningTest, DirectoryOutsideEveryIncludeIsSkipped) {
    StoreFileSet("/r", R"(<Include key="etc/ssh/*.conf"/><Include key="var/log/*"/>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored));
    const DescendCase cases[] = {
        {"/r/etc", true},      {"/r/etc/ssh", true}, {"/r/var/log", true},
        {"/r/etc/ssh/keys", false},  // deeper than any include reaches
        {"/r/etc/pam.d", false},     {"/r/bin", false}, {"/r/var/cache", false},
    };
    for (const DescendCase& c : cases) EXPECT_EQ(c.descend, ShouldDescend(stored, c.dir)) << c.dir;
}

TEST_F(KeyMatchPruningTest, AnyDepthPatternOrFeatureOnlyIncludeKeepsEveryDirectory) {
    StoreFileSet("/r", R"(<Include key="etc/**"/>)");
    StoreFileSet("/r", R"(<Include key="**/*.conf"/>)");
    StoreFileSet("/r", R"(<Include executable="true"/>)");
    StoreFileSet("/r", "");
    for (size_t position = 0; position < 4; ++position) {
        StoredSet stored;
        ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, position));
        for (const char* dir : {"/r/etc/a/b/c", "/r/etc"})
            EXPECT_TRUE(ShouldDescend(stored, dir)) << position << " " << dir;
    }
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, 0));
    EXPECT_FALSE(ShouldDescend(stored, "/r/var"));
}

TEST_F(KeyMatchPruningTest, ExcludeOnlySetHasNoIncludeToDescendFor) {
    StoreFileSet("/r", R"(<Exclude key="**/*.tmp"/>)");
    StoredSet stored;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored));
    EXPECT_FALSE(ShouldDescend(stored, "/r/etc"));
    EXPECT_FALSE(Matches(m_matcher, stored, "/r/etc/a.conf"));
}

struct NeverCase {
    const char* pattern;
    const char* relative;
    bool never;
};

TEST_F(KeyMatchPruningTest, PatternComponentsDecideWhetherDescendantsCanMatch) {
    const NeverCase cases[] = {
        {"a/b", "a/x", true},  {"a/**", "a/x", false}, {"a/b", "a", false},     {"a/b", "a/b/c", true},
        {"*/b", "z", false},   {"a/b", "", true},      {"**/b", "x/y/z", false}, {"a?/b", "ab/c", true},
    };
    int id = 0;
    for (const NeverCase& c : cases) {
        StoreFileSet("/r", std::string("<Include key=\"") + c.pattern + "\"/>");
        StoredSet stored;
        ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, id++));
        ASSERT_EQ(1u, stored.patterns.size());
        EXPECT_EQ(c.never, m_matcher.PatternWillNeverMatchDescendents(stored.patterns.at(0), wxString::FromUTF8(c.relative)))
            << c.pattern << " / " << c.relative;
    }
}

TEST_F(KeyMatchPruningTest, MaxKeyPathDepthCountsTheDeepestPattern) {
    const struct {
        const char* children;
        int depth;
    } cases[] = {
        {"", INT_MAX},
        {R"(<Include key="*.conf"/>)", 1},
        {R"(<Include key="etc/ssh/*.conf"/><Include key="bin/*"/>)", 3},
        {R"(<Include key="bin/*"/><Exclude key="**/x"/>)", INT_MAX},
    };
    size_t position = 0;
    for (const auto& c : cases) {
        StoreFileSet("/r", c.children);
        StoredSet stored;
        ASSERT_NO_FATAL_FAILURE(LoadFileSet(stored, position++));
        EXPECT_EQ(c.depth, KvoPluginIm::CSystemIntegrityKeyMatch::MaxKeyPathDepth(stored.patterns)) << c.children;
    }
}

}  // namespace
