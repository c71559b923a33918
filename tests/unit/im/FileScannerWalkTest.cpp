// The walk of the file and directory scanners over real trees: what is
// recorded and what is descended.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "plugins/im/SystemIntegrityFileScannerThread.h"
#include "tests/unit/im/FileScannerFixture.h"

namespace {

using KvoTest::FileScannerFixture;
using Keys = std::vector<std::string>;

class FileScannerWalkTest : public FileScannerFixture {};

// Keys without the one whose name is not UTF-8, which the caller checks on its own.
Keys WithoutBadName(Keys keys) {
    keys.erase(std::remove_if(keys.begin(), keys.end(), [](const std::string& k) { return k.rfind("/bad", 0) == 0; }),
               keys.end());
    return keys;
}

TEST_F(FileScannerWalkTest, RecordsEveryNonDirectoryEntryAndDescendsLinksOnlyWhenFollowing) {
    ASSERT_EQ(0, mkdir(TreePath("sub").c_str(), 0755));
    ASSERT_EQ(0, mkdir(TreePath("sub/.deep").c_str(), 0755));
    WriteTreeFile("a.txt", "alpha\n");
    WriteTreeFile(".hidden", "hidden\n");
    WriteTreeFile("sub/b.txt", "beta\n");
    WriteTreeFile("sub/.deep/c.txt", "gamma\n");
    WriteTreeFile("bad\xff.bin", "not utf-8 named\n");
    ASSERT_EQ(0, mkfifo(TreePath("fifo").c_str(), 0644));
    ASSERT_EQ(0, symlink(TreePath("a.txt").c_str(), TreePath("link-file").c_str()));
    ASSERT_EQ(0, symlink(TreePath("sub").c_str(), TreePath("linkdir").c_str()));
    const std::string attributes = "<Include key=\"**/*\"/><Attributes><sha256/></Attributes></FileSet>";
    StoreSet("<FileSet base=\"" + m_tree + "\">" + attributes);
    StoreSet("<FileSet base=\"" + m_tree + "\" followLinks=\"true\">" + attributes);

    RunScan("File");
    ASSERT_TRUE(m_lastFinished);

    const Keys direct = {"/.hidden", "/a.txt", "/fifo", "/link-file", "/sub/.deep/c.txt", "/sub/b.txt"};
    Keys followed = direct;
    followed.insert(followed.end(), {"/linkdir/.deep/c.txt", "/linkdir/b.txt"});
    std::sort(followed.begin(), followed.end());
    EXPECT_EQ(direct, WithoutBadName(RecordedKeys("File", 1)));
    EXPECT_EQ(followed, WithoutBadName(RecordedKeys("File", 2)));

    const std::string aDigest = FirstWord("sha256sum '" + TreePath("a.txt") + "'");
    struct DigestCase {
        const char* file;
        int ruleId;
        std::string expected;
    };
    const DigestCase cases[] = {
        {"a.txt", 1, aDigest},
        {"link-file", 1, "none"},  // a link is hashed only for sets that follow links
        {"link-file", 2, aDigest},
        {"fifo", 2, "none"},
        {"bad%", 1, FirstWord("sha256sum '" + TreePath("bad\xff.bin") + "'")},
    };
    for (const DigestCase& c : cases)
        EXPECT_EQ(c.expected, Attribute(c.file, "sha256", c.ruleId)) << c.file << " in rule " << c.ruleId;
    EXPECT_NE(std::string::npos, LogText().find("Found illegal utf8 char in the path."));
}

TEST_F(FileScannerWalkTest, PseudoFileSystemsBelowTheSearchBaseAreNotDescended) {
    StoreSet("<DirectorySet base=\"/sys\"><Include key=\"**/*\"/></DirectorySet>");

    RunScan("Directory");

    const Keys keys = RecordedKeys("Directory");
    ASSERT_FALSE(keys.empty());  // the base itself is listed
    for (const std::string& key : keys)
        EXPECT_EQ(std::string::npos, key.find('/', std::string("/sys/").size())) << key;
}

}  // namespace
