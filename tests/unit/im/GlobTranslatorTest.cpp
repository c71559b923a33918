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
