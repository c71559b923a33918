#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include <wx/regex.h>

#include "plugins/im/GlobTranslator.h"

using KvoPluginIm::CGlobTranslator;

namespace {

const bool kPattern = false;  // matchDescendants for include/exclude patterns
const bool kBase = true;      // matchDescendants for base directories

wxString Utf8(const char* text) { return wxString::FromUTF8(text); }

// Compiled the way the matching code compiles stored expressions.
bool CompileStored(const wxString& expression, bool ignoreCase, wxRegEx& regEx) {
    int flags = wxRE_EXTENDED | wxRE_NOSUB;
    if (ignoreCase) flags |= wxRE_ICASE;
    return regEx.Compile(expression, flags);
}

struct TranslationRow {
    const char* glob;
    const char* expected;
};

std::ostream& operator<<(std::ostream& out, const TranslationRow& row) {
    return out << "glob '" << row.glob << "'";
}

void ExpectTranslation(const CGlobTranslator& translator, const char* glob, wxPathFormat splitFormat,
                       bool matchDescendants, const char* expected) {
    const wxString expression = translator.Translate(Utf8(glob), splitFormat, matchDescendants, true);
    EXPECT_EQ(Utf8(expected), expression);
    wxRegEx regEx;
    EXPECT_TRUE(CompileStored(expression, translator.IgnoresCase(), regEx));
}

// --- Include/exclude patterns on a Linux host -------------------------------
// The common examples are in the kvo-rules glob table (e2e rules_tool); these
// are the edge cases.

class LinuxPatternTranslation : public ::testing::TestWithParam<TranslationRow> {};

TEST_P(LinuxPatternTranslation, GivesTheExpressionAndItCompiles) {
    ExpectTranslation(CGlobTranslator(wxPATH_NATIVE), GetParam().glob, wxPATH_UNIX, kPattern, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, LinuxPatternTranslation,
    ::testing::Values(
        // Leading separators are dropped, however many.
        TranslationRow{"etc", R"(^etc$)"}, TranslationRow{"/etc", R"(^etc$)"},
        TranslationRow{"///etc", R"(^etc$)"},
        // Doubled separators inside give no empty components.
        TranslationRow{"etc//ssh", R"(^etc/ssh$)"},
        // "+" and "|" are passed to the expression as they are.
        TranslationRow{"a+b", R"(^a+b$)"}, TranslationRow{"x|y", R"(^x|y$)"},
        // A double star inside a component is two single stars.
        TranslationRow{"a**b", R"(^a([^/]*)([^/]*)b$)"},
        // Backslashes: a lone trailing one vanishes, one before a star keeps it literal.
        TranslationRow{"abc\\", R"(^abc$)"}, TranslationRow{"dir\\/x", R"(^dir/x$)"},
        TranslationRow{"a\\*b", R"(^a\*b$)"}, TranslationRow{"a\\\\b", R"(^a\\b$)"},
        // Characters special to expressions are escaped; others, non-ASCII too, are kept.
        TranslationRow{"a(b)[c]{d}^e$f.g", R"(^a\(b\)\[c\]\{d\}\^e\$f\.g$)"},
        TranslationRow{"caf\xc3\xa9/men\xc3\xbc-1.txt", "^caf\xc3\xa9/men\xc3\xbc-1\\.txt$"},
        // A Linux host keeps the case of the glob.
        TranslationRow{"Etc/*.Conf", R"(^Etc/([^/]*)\.Conf$)"},
        // Trailing forms, each stripped once, the first that fits.
        TranslationRow{"var/**/*", R"(^var(/.*)*$)"}, TranslationRow{"var/**/*/", R"(^var([^/]*/)+$)"},
        TranslationRow{"a*/**", R"(^a.*$)"}, TranslationRow{"/**", R"(^([^/]*/)*$)"},
        TranslationRow{"**/*", R"(.*)"}, TranslationRow{"*/**", R"(.*)"},
        // Adjacent directory wildcards collapse to one.
        TranslationRow{"**/**/x", R"(^([^/]*/)*x$)"}, TranslationRow{"a/**/**/**/b", R"(^a/([^/]*/)*b$)"},
        // Nothing left after the leading separators.
        TranslationRow{"///", R"(^$)"}));

// --- Base directories on a Linux host ---------------------------------------

class LinuxBaseTranslation : public ::testing::TestWithParam<TranslationRow> {};

TEST_P(LinuxBaseTranslation, GivesTheExpressionAndItCompiles) {
    ExpectTranslation(CGlobTranslator(wxPATH_NATIVE), GetParam().glob, wxPATH_NATIVE, kBase, GetParam().expected);
}

// A base directory regains exactly one leading separator.
INSTANTIATE_TEST_SUITE_P(LeadingSeparators, LinuxBaseTranslation,
                         ::testing::Values(TranslationRow{"var/log", R"(^/var/log(/.+)?$)"},
                                           TranslationRow{"//var//log//", R"(^/var/log(/.+)?$)"},
                                           TranslationRow{"/", R"(^$)"},
                                           TranslationRow{"//", R"(^/(/.+)?$)"}));

// --- What the expressions match ---------------------------------------------

struct MatchRow {
    const char* glob;
    bool matchDescendants;
    const char* key;
    bool matches;
};

std::ostream& operator<<(std::ostream& out, const MatchRow& row) {
    return out << (row.matchDescendants ? "base '" : "glob '") << row.glob << "' key '" << row.key << "'";
}

class LinuxMatching : public ::testing::TestWithParam<MatchRow> {};

TEST_P(LinuxMatching, ExpressionDecidesTheKey) {
    const MatchRow& row = GetParam();
    const CGlobTranslator translator(wxPATH_NATIVE);
    const wxString expression = translator.Translate(Utf8(row.glob), row.matchDescendants ? wxPATH_NATIVE : wxPATH_UNIX,
                                                     row.matchDescendants, true);
    wxRegEx regEx;
    ASSERT_TRUE(CompileStored(expression, false, regEx)) << expression;
    EXPECT_EQ(row.matches, regEx.Matches(Utf8(row.key))) << expression;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, LinuxMatching,
    ::testing::Values(MatchRow{"**/*.log", kPattern, "a/b/c.log", true}, MatchRow{"**/*.log", kPattern, "c.log", true},
                      MatchRow{"**/*.log", kPattern, "c.logx", false},
                      MatchRow{"**/*.log", kPattern, "a/b/c.log/d", false},
                      MatchRow{"**/*.log", kPattern, "c_log", false},
                      MatchRow{"etc/*.d/**", kPattern, "etc/x.d/y/z", true},
                      MatchRow{"etc/*.d/**", kPattern, "etc/x.d", true},
                      MatchRow{"etc/*.d/**", kPattern, "etc/a/b.d/y", false},
                      MatchRow{"etc/*.d/**", kPattern, "etc/x.dd/y", false},
                      MatchRow{"*.conf", kPattern, "x.conf", true}, MatchRow{"*.conf", kPattern, "sub/x.conf", false},
                      MatchRow{"*.conf", kPattern, "xconf", false}, MatchRow{"a?c", kPattern, "abc", true},
                      MatchRow{"a?c", kPattern, "ac", false}, MatchRow{"a?c", kPattern, "abbc", false},
                      MatchRow{"a?c", kPattern, "a/c", false}, MatchRow{"/etc/passwd", kPattern, "etc/passwd", true},
                      MatchRow{"/etc/passwd", kPattern, "/etc/passwd", false},
                      MatchRow{"var/**/", kPattern, "var/a/b/", true}, MatchRow{"var/**/", kPattern, "var/a", false},
                      MatchRow{"var/log/", kPattern, "var/log/", true}, MatchRow{"var/log/", kPattern, "var/log", false},
                      MatchRow{"etc/*/**", kPattern, "etc/a/b", true}, MatchRow{"etc/*/**", kPattern, "etc", false},
                      MatchRow{"**", kPattern, "any/thing/at/all", true}, MatchRow{"**/", kPattern, "a/b/", true},
                      MatchRow{"**/", kPattern, "a/b", false}, MatchRow{"a/**/**/b", kPattern, "a/b", true},
                      MatchRow{"a/**/**/b", kPattern, "a/x/y/b", true}, MatchRow{"a/**/**/b", kPattern, "ab", false},
                      MatchRow{"var/**/*", kPattern, "var/x/y", true}, MatchRow{"var/**/*", kPattern, "varx", false},
                      MatchRow{"a**b", kPattern, "axyb", true}, MatchRow{"a**b", kPattern, "a/b", false},
                      MatchRow{"/", kPattern, "", true}, MatchRow{"/", kPattern, "x", false}));

INSTANTIATE_TEST_SUITE_P(
    Characters, LinuxMatching,
    ::testing::Values(MatchRow{"a(b)[c]{d}^e$f.g", kPattern, "a(b)[c]{d}^e$f.g", true},
                      MatchRow{"a(b)[c]{d}^e$f.g", kPattern, "a(b)[c]{d}^e$fxg", false},
                      // "+" repeats and "|" alternates, as in any expression.
                      MatchRow{"a+b", kPattern, "aaab", true}, MatchRow{"a+b", kPattern, "a+b", false},
                      MatchRow{"x|y", kPattern, "xylophone", true}, MatchRow{"x|y", kPattern, "gray", true},
                      MatchRow{"x|y", kPattern, "abc", false}, MatchRow{"a\\*b", kPattern, "a*b", true},
                      MatchRow{"a\\*b", kPattern, "axb", false}, MatchRow{"abc\\", kPattern, "abc", true},
                      MatchRow{"caf\xc3\xa9/*.txt", kPattern, "caf\xc3\xa9/menu.txt", true},
                      MatchRow{"Etc/*.Conf", kPattern, "etc/a.conf", false}));

INSTANTIATE_TEST_SUITE_P(Bases, LinuxMatching,
                         ::testing::Values(MatchRow{"/var/log", kBase, "/var/log", true},
                                           MatchRow{"/var/log", kBase, "/var/log/syslog", true},
                                           MatchRow{"/var/log", kBase, "/var/log/apt/history.log", true},
                                           MatchRow{"/var/log", kBase, "/var/logs", false},
                                           MatchRow{"/var/log", kBase, "var/log", false},
                                           MatchRow{"/opt/*/bin", kBase, "/opt/tool/bin/run", true},
                                           MatchRow{"/opt/*/bin", kBase, "/opt/a/b/bin", false}));

// --- Non-hierarchical entity types ------------------------------------------

TEST(GlobTranslatorFlat, KeysThatAreNoPathsGetNoExpression) {
    const CGlobTranslator linux(wxPATH_NATIVE);
    const CGlobTranslator windows(wxPATH_DOS);
    for (const char* glob : {"*.conf", "root", "**", "/", ""}) {
        for (bool matchDescendants : {kPattern, kBase}) {
            EXPECT_EQ(wxString(), linux.Translate(glob, wxPATH_UNIX, matchDescendants, false)) << glob;
            EXPECT_EQ(wxString(), windows.Translate(glob, wxPATH_UNIX, matchDescendants, false)) << glob;
        }
    }
}

// --- Windows host -----------------------------------------------------------

struct WindowsRow {
    const char* glob;
    wxPathFormat splitFormat;
    bool matchDescendants;
    const char* expected;
};

std::ostream& operator<<(std::ostream& out, const WindowsRow& row) {
    return out << (row.matchDescendants ? "base '" : "glob '") << row.glob << "'";
}

class WindowsTranslation : public ::testing::TestWithParam<WindowsRow> {};

TEST_P(WindowsTranslation, GivesTheExpressionAndItCompiles) {
    const WindowsRow& row = GetParam();
    ExpectTranslation(CGlobTranslator(wxPATH_DOS), row.glob, row.splitFormat, row.matchDescendants, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Globs, WindowsTranslation,
    ::testing::Values(WindowsRow{R"(C:\Windows\System32)", wxPATH_DOS, kBase, R"(^c:\\windows\\system32(\\.+)?$)"},
                      WindowsRow{R"(c:/Program Files/*)", wxPATH_DOS, kBase, R"(^c:\\program files\\([^\\]*)(\\.+)?$)"},
                      WindowsRow{R"(D:)", wxPATH_DOS, kBase, R"(^d:(\\.+)?$)"},
                      // A network share: two separators, then the server.
                      WindowsRow{R"(\\Server\Share\Docs)", wxPATH_DOS, kBase, R"(^\\\\server\\share\\docs(\\.+)?$)"},
                      // With no volume a base gets no leading separator on a host with volumes.
                      WindowsRow{R"(\Windows)", wxPATH_DOS, kBase, R"(^windows(\\.+)?$)"},
                      WindowsRow{"**/*.DLL", wxPATH_UNIX, kPattern, R"(^([^\\]*\\)*([^\\]*)\.dll$)"},
                      WindowsRow{"System32/Drivers/", wxPATH_UNIX, kPattern, R"(^system32\\drivers\\$)"},
                      WindowsRow{"Temp/**", wxPATH_UNIX, kPattern, R"(^temp(\\.*)*$)"},
                      WindowsRow{"Logs/**/", wxPATH_UNIX, kPattern, R"(^logs([^\\]*\\)+$)"},
                      WindowsRow{"a?C", wxPATH_UNIX, kPattern, R"(^a([^\\]{1})c$)"},
                      WindowsRow{"**/", wxPATH_UNIX, kPattern, R"(^([^\\]*\\)*$)"}));

struct WindowsMatchRow {
    const char* glob;
    wxPathFormat splitFormat;
    bool matchDescendants;
    const char* key;
    bool matches;
};

std::ostream& operator<<(std::ostream& out, const WindowsMatchRow& row) {
    return out << "glob '" << row.glob << "' key '" << row.key << "'";
}

class WindowsMatching : public ::testing::TestWithParam<WindowsMatchRow> {};

// Keys are given lower-cased, as the glob was, and the expression is compiled
// respecting case: the lower-cased glob alone must make them meet.
TEST_P(WindowsMatching, LowerCasedKeysMeetTheLowerCasedGlob) {
    const WindowsMatchRow& row = GetParam();
    const CGlobTranslator translator(wxPATH_DOS);
    const wxString expression = translator.Translate(row.glob, row.splitFormat, row.matchDescendants, true);
    wxRegEx regEx;
    ASSERT_TRUE(CompileStored(expression, false, regEx)) << expression;
    EXPECT_EQ(row.matches, regEx.Matches(row.key)) << expression;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, WindowsMatching,
    ::testing::Values(WindowsMatchRow{R"(C:\Windows\System32)", wxPATH_DOS, kBase, R"(c:\windows\system32)", true},
                      WindowsMatchRow{R"(C:\Windows\System32)", wxPATH_DOS, kBase,
                                      R"(c:\windows\system32\drivers\etc\hosts)", true},
                      WindowsMatchRow{R"(C:\Windows\System32)", wxPATH_DOS, kBase, R"(c:\windows\system32x)", false},
                      WindowsMatchRow{R"(C:\Windows\System32)", wxPATH_DOS, kBase, R"(d:\windows\system32)", false},
                      WindowsMatchRow{R"(\\Server\Share\Docs)", wxPATH_DOS, kBase, R"(\\server\share\docs\a.txt)", true},
                      WindowsMatchRow{R"(\\Server\Share\Docs)", wxPATH_DOS, kBase, R"(\\server\share\docsx)", false},
                      WindowsMatchRow{R"(\\Server\Share\Docs)", wxPATH_DOS, kBase, R"(\server\share\docs)", false},
                      WindowsMatchRow{"**/*.DLL", wxPATH_UNIX, kPattern, R"(drivers\usb\hub.dll)", true},
                      WindowsMatchRow{"**/*.DLL", wxPATH_UNIX, kPattern, R"(hub.dll)", true},
                      WindowsMatchRow{"**/*.DLL", wxPATH_UNIX, kPattern, R"(hub.dll\x)", false},
                      WindowsMatchRow{"**/*.DLL", wxPATH_UNIX, kPattern, R"(hub.DLL)", false},
                      WindowsMatchRow{"a?C", wxPATH_UNIX, kPattern, R"(abc)", true},
                      WindowsMatchRow{"a?C", wxPATH_UNIX, kPattern, R"(a\c)", false}));

// --- Case folding -----------------------------------------------------------

// Translations show the folding (Etc/*.Conf above keeps its case on Linux,
// **/*.DLL becomes dll on Windows); the host decides how the match treats case.
TEST(GlobTranslatorCase, OnlyHostsWhoseNamesIgnoreCaseMatchKeysOfAnyCase) {
    EXPECT_FALSE(CGlobTranslator(wxPATH_NATIVE).IgnoresCase());
    const CGlobTranslator windows(wxPATH_DOS);
    const wxString expression = windows.Translate(R"(C:\Windows)", wxPATH_DOS, kBase, true);
    wxRegEx regEx;
    ASSERT_TRUE(CompileStored(expression, windows.IgnoresCase(), regEx));
    EXPECT_TRUE(regEx.Matches(R"(C:\WINDOWS\Notepad.EXE)"));
    EXPECT_FALSE(regEx.Matches(R"(C:\WINDOWSX)"));
}

}  // namespace
