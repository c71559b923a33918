#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <utility>
#include <vector>

#include <wx/dir.h>
#include <wx/filename.h>

#include "core/Utilities.h"
#include "tests/unit/TempDir.h"

using namespace KvoCore;

TEST(Utilities, HexRoundTripAndValidation) {
    const unsigned char bytes[] = {0x00, 0x7f, 0x80, 0xff, 0x1a};
    wxString hex = toHexString(bytes, sizeof bytes);
    EXPECT_EQ("007f80ff1a", hex);
    wxMemoryBuffer back;
    ASSERT_TRUE(fromHexString("007F80ff1A", back));
    ASSERT_EQ(sizeof bytes, back.GetDataLen());
    EXPECT_EQ(0, memcmp(bytes, back.GetData(), sizeof bytes));
    for (const char* bad : {"0", "0g", "zz", "12 4"}) {
        EXPECT_FALSE(isHexString(bad)) << bad;
        EXPECT_FALSE(fromHexString(bad, back)) << bad;
    }
    EXPECT_TRUE(isHexString(""));
    EXPECT_EQ(wxNOT_FOUND, ReplaceBars("a|b||c").Find('|'));
    EXPECT_EQ(6u, ReplaceBars("a|b||c").length());
}

TEST(Utilities, Base64) {
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}})
        EXPECT_EQ(out, toBase64String(in.data(), in.size())) << in;
}

TEST(Utilities, Utf8Validation) {
    // Latin-1, cut short, overlong, surrogate, above U+10FFFF, never a lead byte.
    for (const char* bad : {"caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff"})
        EXPECT_FALSE(isLegalUTF8String(bad, strlen(bad))) << bad;
    for (const std::string& good : {std::string("plain caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), std::string("a\0b", 3)})
        EXPECT_TRUE(isLegalUTF8String(good.data(), good.size())) << good;
}

TEST(Utilities, TimestampConversions) {
    EXPECT_EQ(1700000000123LL, FileTimestampToJTime(1700000000123456789LL));
    EXPECT_EQ(0, FileTimestampToJTime(999999));
    EXPECT_EQ(-1, FileTimestampToJTime(-1));
}

TEST(Utilities, FileTimestampsOfARealFile) {
    TempDir dir;
    std::string path = dir.file("f");
    std::ofstream(path) << "12345";
    struct timespec times[2] = {{1000000000, 111}, {1100000000, 222}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
    long long atime = 0, mtime = 0, created = 0, size = 0;
    struct stat st;
    ASSERT_TRUE(GetFileTimestamps(path, &atime, &mtime, &created, &size, &st));
    EXPECT_EQ((std::vector<long long>{1000000000000000111LL, 1100000000000000222LL, 5, 1}),
              (std::vector<long long>{atime, mtime, size, S_ISREG(st.st_mode)}));
    EXPECT_GT(created, 1600000000LL * 1000000000LL) << "birth or change time of a file made now";
    // Read with the birth time in one call, the status is still the one lstat gives:
    // it is compared with the status the content was read under.
    auto fields = [](const struct stat& s) {
        return std::vector<long long>{static_cast<long long>(s.st_dev), static_cast<long long>(s.st_ino),
                                      static_cast<long long>(s.st_nlink), s.st_uid, s.st_gid, s.st_blocks,
                                      s.st_blksize, s.st_ctim.tv_sec, s.st_ctim.tv_nsec, s.st_mtim.tv_nsec};
    };
    struct stat plain;
    ASSERT_EQ(0, lstat(path.c_str(), &plain));
    EXPECT_EQ(fields(plain), fields(st));
    EXPECT_FALSE(GetFileTimestamps(dir.file("absent"), &atime, nullptr, nullptr, nullptr, nullptr));
    // A dangling link is examined itself, not its target.
    ASSERT_EQ(0, symlink("absent", dir.file("link").c_str()));
    EXPECT_TRUE(GetFileTimestamps(dir.file("link"), nullptr, nullptr, nullptr, &size, &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(Utilities, ExecutableByModeOrContent) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* content;
        mode_t mode;
        bool executable;
    } cases[] = {
        {"script", "#!/bin/sh\n", 0644, true},
        {"elf", "\x7f" "ELF rest", 0644, true},
        {"text", "hello", 0644, false},
        {"moded", "hello", 0755, true},
        {"empty", "", 0644, false},
    };
    for (const Case& c : cases) {
        std::string path = dir.file(c.name);
        std::ofstream(path) << c.content;
        chmod(path.c_str(), c.mode);
        const int fd = open(path.c_str(), O_RDONLY);
        EXPECT_EQ(std::make_pair(c.executable, c.executable), std::make_pair(FileIsExecutable(path), FileIsExecutable(path, fd)))
            << c.name << " by name and by descriptor";
        close(fd);
    }
    EXPECT_FALSE(FileIsExecutable(dir.path()));
    EXPECT_FALSE(FileIsExecutable(dir.file("absent")));
}

TEST(Utilities, NonUtf8FileNamesRoundTrip) {
    TempDir dir;
    std::string raw = dir.file("bad\xff" "name");
    std::ofstream(raw) << "x";
    wxArrayString found;
    wxDir::GetAllFiles(wxString::FromUTF8(dir.path().c_str()), &found);
    ASSERT_EQ(1u, found.size());
    struct stat st;
    EXPECT_EQ(0, lstat(found[0].fn_str(), &st)) << "a listed name must open again";
    EXPECT_TRUE(GetFileTimestamps(found[0], nullptr, nullptr, nullptr, nullptr, nullptr));
}

