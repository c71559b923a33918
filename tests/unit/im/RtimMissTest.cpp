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
};

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

}  // namespace
