// The read ahead of file content hands a digest back only when it is the
// digest of the version the scanner finds; everything else the scanner
// hashes itself.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "plugins/im/ContentHashAhead.h"
#include "tests/unit/TempDir.h"

namespace {

using KvoPluginIm::CContentHashAhead;
using KvoPluginIm::DigestRequest;

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

struct stat Status(const std::string& path) {
    struct stat status {};
    lstat(path.c_str(), &status);
    return status;
}

TEST(ContentHashAhead, HandsBackOnlyTheDigestOfTheVersionFound) {
    TempDir dir;
    Write(dir.file("a"), "alpha");
    Write(dir.file("b"), "beta");
    Write(dir.file("c"), "gamma");
    ASSERT_EQ(0, symlink(dir.file("a").c_str(), dir.file("d").c_str()));
    // The scanner looked at b before it was rewritten; the read ahead reads the new b.
    const struct stat bAsFound = Status(dir.file("b"));
    Write(dir.file("b"), "beta, rewritten");

    DigestRequest sha256;
    sha256.sha256 = true;
    DigestRequest md5;
    md5.md5 = true;
    CContentHashAhead ahead(sha256, 8, false);
    for (const char* key : {"a", "b", "c", "d"}) ahead.Add(key, dir.file(key));
    // A key the worker has not started yet is the scanner's to hash.
    for (int wait = 0; wait < 500 && !ahead.Drained(); ++wait) usleep(10000);

    CContentHashAhead::Digests digests;
    ASSERT_TRUE(ahead.Take("a", Status(dir.file("a")), sha256, digests));
    unsigned char expected[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>("alpha"), 5, expected);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected), sizeof expected), digests.sha256);
    EXPECT_EQ(5, digests.size);
    const struct {
        const char* key;
        struct stat status;
        DigestRequest wanted;
        const char* why;
    } refused[] = {
        {"b", bAsFound, sha256, "read as another version than the one found"},
        {"c", Status(dir.file("c")), md5, "a kind it does not make"},
        {"d", Status(dir.file("d")), sha256, "a link: its target is read by the scanner"},
        {"a", Status(dir.file("a")), sha256, "taken already"},
    };
    for (const auto& c : refused) EXPECT_FALSE(ahead.Take(c.key, c.status, c.wanted, digests)) << c.why;
}

// Workers read side by side and finish out of order; each key still gets its own file's digest.
TEST(ContentHashAhead, WorkersSideBySideHandBackEachFilesOwnDigest) {
    TempDir dir;
    DigestRequest sha256;
    sha256.sha256 = true;
    CContentHashAhead ahead(sha256, 64, false, 3);
    std::vector<std::string> keys, contents;
    for (int i = 0; i < 40; ++i) {
        keys.push_back("k" + std::to_string(100 + i));
        // Sizes up to several read windows, so that reads overlap.
        contents.push_back(std::string(static_cast<size_t>((i % 7) * 300000 + 1), static_cast<char>('a' + i % 26)));
        Write(dir.file(keys.back()), contents.back());
        ahead.Add(keys.back(), dir.file(keys.back()));
    }
    for (int wait = 0; wait < 1000 && !ahead.Drained(); ++wait) usleep(10000);
    for (size_t i = 0; i < keys.size(); ++i) {
        CContentHashAhead::Digests digests;
        ASSERT_TRUE(ahead.Take(keys[i], Status(dir.file(keys[i])), sha256, digests)) << keys[i];
        unsigned char expected[SHA256_DIGEST_LENGTH];
        SHA256(reinterpret_cast<const unsigned char*>(contents[i].data()), contents[i].size(), expected);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(expected), sizeof expected), digests.sha256) << keys[i];
    }
    EXPECT_GT(ahead.CpuNanos(), 0);
}

// Nice values of this process's threads.
std::vector<int> ThreadNiceValues() {
    std::vector<int> values;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // The 19th field, counted after the command name's closing parenthesis (the 2nd field).
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i)
            if (i == 19) values.push_back(std::stoi(field));
    }
    return values;
}

// The scanner's own thread keeps its priority; the workers run at the lowest.
TEST(ContentHashAhead, WorkersGiveWayToTheScanner) {
    DigestRequest sha256;
    sha256.sha256 = true;
    const int before = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    CContentHashAhead ahead(sha256, 8, false, 2);
    long lowest = 0;
    for (int wait = 0; wait < 500 && lowest < 2; ++wait, usleep(10000)) {
        const std::vector<int> values = ThreadNiceValues();
        lowest = std::count(values.begin(), values.end(), 19);
    }
    EXPECT_EQ(2, lowest);
    EXPECT_EQ(before, getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))));
}

}  // namespace
