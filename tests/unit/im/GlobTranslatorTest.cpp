#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "plugins/im/GlobTranslator.h"
#include "plugins/im/RecordRegEx.h"

using KvoPluginIm::CGlobTranslator;

namespace {

const bool kPattern = false;  // matchDescendants for include/exclude patterns
const bool kBase = true;      // matchDescendants for base directories

wxString Utf8(const char* text) { return wxString::FromUTF8(text); }

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
    EXPECT_TRUE(KvoPluginIm::CRecordRegEx::Compile(expression, translator.IgnoresCase()));
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
        TranslationRow{"a*\\1", R"(^a([^/]*)\1$)"},  // a back reference still compiles
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
    for (const char* glob : {"*.conf", "root", "**", "/", ""})
        for (bool matchDescendants : {kPattern, kBase})
            EXPECT_EQ(wxString(), linux.Translate(glob, wxPATH_UNIX, matchDescendants, false)) << glob;
}

}  // namespace
