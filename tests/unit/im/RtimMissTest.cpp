#include <gtest/gtest.h>

#include <wx/string.h>

#include "plugins/im/im-plugin.h"

using namespace KvoPluginIm;

namespace {

// The missed-change table is process-wide: every test starts from an empty one.
class RtimMissTest : public ::testing::Test {
protected:
    void SetUp() override { ClearRTIMMisses(); }
    void TearDown() override { ClearRTIMMisses(); }

    static RTIM_Miss_Entry Entry(const wxString& directory) {
        const RTIMMissMap misses = GetRTIMMisses();
        auto found = misses.find(directory);
        return found == misses.end() ? RTIM_Miss_Entry() : found->second;
    }
};

TEST_F(RtimMissTest, KindSelectsWhatIsRecorded) {
    const struct {
        const char* path;
        int kind;
        const char* directory;
        const char* name;  // empty: the whole directory
    } cases[] = {
        {"/var/log/app.log", 2, "/var/log", "*.log"},
        {"/var/log/app.log", 5, "/var/log", "*.log"},
        {"/var/log/app.log", 3, "/var/log", "app.log"},
        {"/var/log/app.log", 6, "/var/log", "app.log"},
        {"/var/log/app.log", 1, "/var/log", ""},
        {"/var/log/app.log", 4, "/var/log", ""},
        {"/var/log/app.log", 0, "/var/log", ""},
        {"/var/log/app.log", -1, "/var/log", ""},
        {"/srv/README", 2, "/srv", "*"},
        {"/srv/README", 3, "/srv", "README"},
        {"/srv/a.tar.gz", 2, "/srv", "*.gz"},
        {"/srv/a.tar.gz", 3, "/srv", "a.tar.gz"},
        {"/x.txt", 3, "/", "x.txt"},
    };
    for (const auto& c : cases) {
        ClearRTIMMisses();
        EXPECT_TRUE(AddRTIMMiss(c.path, c.kind)) << c.path << " kind " << c.kind;
        const RTIMMissMap misses = GetRTIMMisses();
        ASSERT_EQ(1u, misses.size()) << c.path;
        const RTIM_Miss_Entry& entry = misses.begin()->second;
        EXPECT_EQ(wxString(c.directory), misses.begin()->first) << c.path;
        EXPECT_EQ(wxString(c.directory), entry.path) << c.path;
        EXPECT_EQ(1, entry.hitcount);
        if (*c.name) {
            ASSERT_EQ(1u, entry.names.size()) << c.path << " kind " << c.kind;
            EXPECT_EQ(1, entry.names.count(c.name)) << c.path << " kind " << c.kind;
        } else {
            EXPECT_TRUE(entry.names.empty()) << c.path << " kind " << c.kind;
        }
    }
}

TEST_F(RtimMissTest, ResultTellsWhetherSomethingWasAdded) {
    EXPECT_FALSE(AddRTIMMiss("", 3)) << "empty path";
    EXPECT_TRUE(GetRTIMMisses().empty());
    EXPECT_TRUE(AddRTIMMiss("/d/a.txt", 3)) << "new directory";
    EXPECT_FALSE(AddRTIMMiss("/d/a.txt", 3)) << "known name";
    EXPECT_TRUE(AddRTIMMiss("/d/b.txt", 3)) << "new name";
    EXPECT_FALSE(AddRTIMMiss("/d/c.txt", 1)) << "whole directory of a known one";
    const RTIM_Miss_Entry entry = Entry("/d");
    EXPECT_EQ(4, entry.hitcount);
    EXPECT_EQ(2, entry.names.at("a.txt"));
    EXPECT_EQ(2u, entry.names.size()) << "a whole-directory miss keeps the names";
    EXPECT_TRUE(AddRTIMMiss("/e/x", 1)) << "new whole directory";
}

TEST_F(RtimMissTest, AtMostOneHundredNamesPerDirectory) {
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(AddRTIMMiss(wxString::Format("/n/f%d", i), 3));
    EXPECT_FALSE(AddRTIMMiss("/n/one-more", 3));
    EXPECT_FALSE(AddRTIMMiss("/n/x.log", 2));
    EXPECT_FALSE(AddRTIMMiss("/n/f7", 3));
    const RTIM_Miss_Entry entry = Entry("/n");
    EXPECT_EQ(100u, entry.names.size());
    EXPECT_EQ(0u, entry.names.count("one-more"));
    EXPECT_EQ(2, entry.dropped);
    EXPECT_EQ(2, entry.names.at("f7"));
    EXPECT_EQ(103, entry.hitcount);
}

TEST_F(RtimMissTest, EraseOldestTakesTheSmallestLasttimeFirstInKeyOrder) {
    EraseOldestRTIMMiss();  // empty: nothing to do
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(AddRTIMMiss(wxString::Format("/d%02d/f", i), 1));
    EXPECT_EQ(20u, GetRTIMMisses().size());
    // Misses within one millisecond tie; then key order decides.
    const RTIMMissMap before = GetRTIMMisses();
    long long oldest = before.begin()->second.lasttime;
    wxString expectedGone = before.begin()->first;
    for (const auto& item : before) {
        if (item.second.lasttime < oldest) {
            oldest = item.second.lasttime;
            expectedGone = item.first;
        }
    }
    ASSERT_TRUE(AddRTIMMiss("/d20/f", 1));
    const RTIMMissMap after = GetRTIMMisses();
    EXPECT_EQ(20u, after.size());
    EXPECT_EQ(0u, after.count(expectedGone));
    EXPECT_EQ(1u, after.count("/d20"));
}

TEST_F(RtimMissTest, CheckCoversMissedDirectoriesAndNames) {
    AddRTIMMiss("/opt/tool", 1);                // /opt whole
    AddRTIMMiss("/var/log/app.log", 2);         // *.log in /var/log
    AddRTIMMiss("/var/log/notes.txt", 3);       // notes.txt in /var/log
    AddRTIMMiss("/srv/data/named.bin", 3);      // /srv/data with names
    const struct {
        const char* path;
        bool covered;
        const char* why;
    } cases[] = {
        {"/opt/other", true, "file in a whole-directory miss"},
        {"/opt/x/y.txt", true, "below a whole-directory miss"},
        {"/opt/x/y/z/deep.txt", true, "deep below a whole-directory miss"},
        {"/optional/a", false, "a sibling whose name starts alike"},
        {"/var/log/other.log", true, "extension pattern"},
        {"/var/log/notes.txt", true, "recorded name"},
        {"/var/log/other.txt", false, "name not recorded"},
        {"/var/log/sub/x.log", false, "below a directory that lists names"},
        {"/srv/data/other.bin", false, "name not recorded in /srv/data"},
        {"/srv/data/x/y.bin", false, "below a directory that lists names"},
        {"/aaa/file", false, "nothing sorts before it"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.covered, CheckRTIMMiss(c.path)) << c.path << ": " << c.why;
}

TEST_F(RtimMissTest, CheckCountsTheHitsItCovers) {
    AddRTIMMiss("/opt/tool", 1);
    AddRTIMMiss("/var/log/app.log", 2);
    ASSERT_TRUE(CheckRTIMMiss("/var/log/b.log"));
    ASSERT_TRUE(CheckRTIMMiss("/opt/x/y.txt"));
    ASSERT_FALSE(CheckRTIMMiss("/var/log/b.txt"));
    const RTIM_Miss_Entry log = Entry("/var/log");
    EXPECT_EQ(2, log.hitcount) << "the miss and one covered change";
    EXPECT_EQ(2, log.names.at("*.log"));
    EXPECT_EQ(2, Entry("/opt").hitcount) << "a change below counts for the missed directory";
    EXPECT_EQ(0u, GetRTIMMisses().count("/opt/x")) << "and adds no entry";
}

TEST_F(RtimMissTest, ExclusionsListDirectoriesInOrder) {
    EXPECT_EQ(wxString(), GetRTIMExclusions());
    AddRTIMMiss("/opt/tool", 1);
    EXPECT_EQ(wxString("/opt/"), GetRTIMExclusions());
    AddRTIMMiss("/var/log/app.txt", 3);
    AddRTIMMiss("/var/log/app.log", 2);
    AddRTIMMiss("/boot", 1);
    EXPECT_EQ(wxString("/;/opt/;/var/log/*.log,app.txt"), GetRTIMExclusions());
    ClearRTIMMisses();
    EXPECT_EQ(wxString(), GetRTIMExclusions());
}

}  // namespace
