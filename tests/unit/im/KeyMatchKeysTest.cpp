// Key order (which scan checkpoints rely on) and relative names.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/unit/im/KeyMatchFixture.h"

namespace {

using KvoTest::PathKeyMatch;

struct CompareCase {
    const char* a;
    const char* b;
    int sensitive;    // result with case-sensitive keys
    int insensitive;  // result when keys ignore case
};

TEST(KeyMatchKeys, CompareKeysOrdersComponentByComponent) {
    const CompareCase cases[] = {
        {"/etc", "/etc/passwd", -1, -1},
        {"/etc/passwd", "/etc", 1, 1},
        {"/etc/passwd", "/etc/passwd", 0, 0},
        {"/etc/group", "/etc/passwd", -1, -1},
        // A key's descendants come before its next sibling, unlike plain text order ('.' < '/').
        {"/a/z", "/a.b", -1, -1},
        {"/A/x", "/a/x", -1, 0},
        {"/b", "/A", 1, 1},
    };
    const PathKeyMatch sensitive(true);
    const PathKeyMatch insensitive(false);
    for (const CompareCase& c : cases) {
        const wxString a = wxString::FromUTF8(c.a);
        const wxString b = wxString::FromUTF8(c.b);
        EXPECT_EQ(c.sensitive, sensitive.CompareKeys(a, b)) << c.a << " ? " << c.b;
        EXPECT_EQ(c.insensitive, insensitive.CompareKeys(a, b)) << c.a << " ? " << c.b;
    }
}

struct RelativeCase {
    const char* base;
    const char* key;
    const char* sensitive;
    const char* insensitive;
};

TEST(KeyMatchKeys, RelativeNameIsTheKeyBelowTheBase) {
    const RelativeCase cases[] = {
        {"/etc", "/etc/passwd", "passwd", "passwd"},
        {"/etc/", "/etc/ssh/sshd_config", "ssh/sshd_config", "ssh/sshd_config"},
        {"/etc", "/var/x", "/var/x", "/var/x"},
        {"", "/etc/passwd", "/etc/passwd", "/etc/passwd"},
        {"/ETC", "/etc/Passwd", "/etc/Passwd", "Passwd"},  // the key keeps its own case
        {"/etc", "/etc", "", ""},
    };
    const PathKeyMatch sensitive(true);
    const PathKeyMatch insensitive(false);
    for (const RelativeCase& c : cases) {
        const wxString base = wxString::FromUTF8(c.base);
        const wxString key = wxString::FromUTF8(c.key);
        EXPECT_EQ(c.sensitive, sensitive.GetRelativeName(base, key).utf8_string()) << c.base << " " << c.key;
        EXPECT_EQ(c.insensitive, insensitive.GetRelativeName(base, key).utf8_string()) << c.base << " " << c.key;
    }
}

}  // namespace
