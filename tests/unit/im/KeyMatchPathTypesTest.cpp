// The path-key matchers: search-base coverage, "whereBaseInOtherSet" and the
// file matcher's "executable" feature on real files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "core/Utilities.h"
#include "plugins/im/DirectoryIntegrityKeyMatch.h"
#include "plugins/im/FileIntegrityKeyMatch.h"
#include "tests/unit/im/KeyMatchFixture.h"

namespace {

using KvoPluginIm::CDirectoryIntegrityKeyMatch;
using KvoPluginIm::CFileIntegrityKeyMatch;
using KvoTest::KeyMatchFixture;
using KvoTest::StoredSet;

class KeyMatchPathTypesTest : public KeyMatchFixture {
protected:
    void StoreRule(const std::string& set) {
        Store(("<IntegrityRule id=\"" + std::to_string(++m_ruleId) + "\" name=\"r\">" + set + "</IntegrityRule>").c_str());
    }
    int m_ruleId = 0;
};

struct CoverCase {
    const char* key;
    bool covered;
};

TEST_F(KeyMatchPathTypesTest, SearchBaseCoversKeysInItsDirectoryTree) {
    StoreRule(R"(<FileSet base="/opt/app"/>)");
    StoreRule(R"(<FileSet base="/var/log/*.d"/>)");
    StoreRule(R"(<FileSet base="/"/>)");
    const CDirectoryIntegrityKeyMatch matcher(wxPATH_UNIX);
    StoredSet plain, expression, root;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(plain, 0));
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(expression, 1));
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(root, 2));
    const struct {
        const StoredSet* stored;
        CoverCase c;
    } cases[] = {
        {&plain, {"/opt/app/x", true}},      {&plain, {"/opt/app/sub/x", true}}, {&plain, {"/opt/appx/y", false}},
        {&plain, {"/opt/app", false}},  // the base itself lies in /opt
        {&plain, {"/OPT/app/x", false}},     {&expression, {"/var/log/rsyslog.d/a", true}},
        {&expression, {"/var/log/syslog.1/a", false}},
        {&root, {"/etc/passwd", true}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.c.covered, matcher.KeyPathMatchesSearchBase(wxString::FromUTF8(c.c.key), c.stored->set))
            << c.c.key;
    // Windows paths ignore case.
    const CDirectoryIntegrityKeyMatch windows(wxPATH_DOS);
    EXPECT_FALSE(windows.EntityKeysAreCaseSensitive());
    EXPECT_EQ("\\", windows.GetEntityKeySeparator().utf8_string());
}

TEST_F(KeyMatchPathTypesTest, WhereBaseInOtherSetSeparatesNestedSets) {
    StoreRule(R"(<FileSet base="/opt"><Include key="**/*"/><Exclude whereBaseInOtherSet="true"/></FileSet>)");
    StoreRule(R"(<FileSet base="/opt/app"><Include key="**/*"/></FileSet>)");
    StoredSet outer;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(outer, 0));
    ASSERT_EQ(1u, outer.features.size());
    const CDirectoryIntegrityKeyMatch matcher(wxPATH_UNIX);
    const struct {
        const char* key;
        bool matches;
    } cases[] = {
        {"/opt/a.conf", true},
        {"/opt/lib/x", true},
        {"/opt/appx/y", true},
        {"/opt/app/x", false},  // the inner set has it
        {"/opt/app/sub/y", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.matches, Matches(matcher, outer, c.key)) << c.key;
}

TEST_F(KeyMatchPathTypesTest, ExecutableFeatureTestsTheFileItself) {
    const std::string dir = m_dir.file("tree");
    ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
    const struct {
        const char* name;
        const char* content;
        mode_t mode;
        bool executable;
    } files[] = {
        {"run", "text", 0755, true},
        {"script", "#!/bin/sh\n", 0644, true},
        {"notes.txt", "hello\n", 0644, false},
    };
    for (const auto& f : files) {
        const std::string path = dir + "/" + f.name;
        std::ofstream(path) << f.content;
        ASSERT_EQ(0, chmod(path.c_str(), f.mode));
    }
    StoreRule("<FileSet base=\"" + dir + "\"><Include key=\"*\" executable=\"true\"/></FileSet>");
    StoreRule("<FileSet base=\"" + dir + "\"><Include key=\"*\"/><Exclude executable=\"TRUE\"/></FileSet>");
    StoredSet executables, others;
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(executables, 0));
    ASSERT_NO_FATAL_FAILURE(LoadFileSet(others, 1));
    EXPECT_TRUE(CFileIntegrityKeyMatch::FeaturesRequireFileOpen(executables.features));
    EXPECT_FALSE(CFileIntegrityKeyMatch::FeaturesRequireFileOpen(StoredSet().features));
    const CFileIntegrityKeyMatch matcher(KvoCore::FileIsExecutable, wxPATH_UNIX);
    for (const auto& f : files) {
        const wxString path = wxString::FromUTF8(dir + "/" + f.name);
        for (const bool open : {false, true}) {
            const int fd = open ? ::open(path.fn_str(), O_RDONLY) : -1;
            const unsigned long data = static_cast<unsigned long>(static_cast<long>(fd));
            int reason = -1;
            auto matches = [&](const StoredSet& s) {
                return matcher.EntityMatches(s.set->GetSearchBase(), path, data, s.sets.get(), *s.set, s.features,
                                             s.patterns, s.ids, reason);
            };
            EXPECT_EQ(f.executable, matches(executables)) << f.name << (open ? " open" : "");
            EXPECT_EQ(!f.executable, matches(others)) << f.name << (open ? " open" : "");
            if (fd >= 0) close(fd);
        }
    }
}

}  // namespace
