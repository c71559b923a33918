// Rules: which entity sets they take on which platform, what they keep of
// elements and attributes they do not take, and how they print back.
#include <gtest/gtest.h>

#include <ostream>

#include "tests/unit/im/RuleTestSupport.h"

using KvoPluginIm::CEntitySet;
using KvoPluginIm::CIntegrityRule;
using KvoPluginIm::CIntegrityRules;

namespace KvoTest {
namespace {

struct ChildRow {
    const char* element;
    bool windows;
    const char* outcome;  // "accepted", "unsupported" or "unrecognised"
};

std::ostream& operator<<(std::ostream& out, const ChildRow& row) {
    return out << row.element << (row.windows ? " on Windows" : " on Linux");
}

class RuleChild : public ::testing::TestWithParam<ChildRow> {};

TEST_P(RuleChild, IsTakenOnlyWhereItsKindIsOffered) {
    const ChildRow& row = GetParam();
    ForcedPlatform platform(row.windows);
    const std::string xml = std::string("<IntegrityRule id=\"1\" name=\"r\"><") + row.element +
                            "><Include key=\"*\"/></" + row.element + "></IntegrityRule>";
    auto rule = ParseRule(xml.c_str());
    const std::string outcome = row.outcome;
    const wxString element = wxString::FromUTF8(row.element);
    EXPECT_EQ(outcome == "accepted" ? 1u : 0u, SetsOf(*rule).size());
    EXPECT_EQ(outcome == "unsupported" ? 1u : 0u, rule->GetUnsupportedChildren().count(element));
    EXPECT_EQ(outcome == "unrecognised" ? 1u : 0u, rule->GetUnrecognisedChildren().count(element));
    if (outcome == "accepted") return;
    // Kept by name only, printed back as an empty element.
    EXPECT_EQ(
        "<IntegrityRule id=\"1\" name=\"r\" allowOnChange=\"false\" confidential=\"false\" severity=\"0\" "
        "type=\"0\">\n  <" +
            std::string(row.element) + "/>\n</IntegrityRule>\n",
        Text(rule->toString()));
}

INSTANTIATE_TEST_SUITE_P(
    Elements, RuleChild,
    ::testing::Values(
        ChildRow{"FileSet", false, "accepted"}, ChildRow{"UserSet", true, "accepted"},
        ChildRow{"ServiceSet", false, "unsupported"}, ChildRow{"ServiceSet", true, "accepted"},
        ChildRow{"RegistryKeySet", false, "unsupported"}, ChildRow{"RegistryKeySet", true, "accepted"},
        ChildRow{"RegistryValueSet", false, "unsupported"}, ChildRow{"RegistryValueSet", true, "accepted"},
        ChildRow{"WQLSet", false, "unsupported"}, ChildRow{"WQLSet", true, "accepted"},
        ChildRow{"SharedDirectorySet", false, "unsupported"},
        ChildRow{"SharedDirectorySet", true, "unsupported"},
        ChildRow{"SystemInformationSet", true, "unsupported"},
        // Element names are matched exactly; a known kind in the wrong case is still known.
        ChildRow{"fileset", false, "unsupported"}, ChildRow{"Frobnicator", false, "unrecognised"},
        ChildRow{"Frobnicator", true, "unrecognised"}));

TEST(IntegrityRule, KindsAreFixedWhenTheRuleIsBuilt) {
    std::unique_ptr<CIntegrityRule> rule;
    {
        ForcedPlatform linux(false);
        rule = std::make_unique<CIntegrityRule>();
    }
    ForcedPlatform windows(true);
    ASSERT_TRUE(rule->FromXML(wxT("<IntegrityRule><RegistryKeySet base=\"HKLM\"/></IntegrityRule>")));
    EXPECT_EQ(1u, rule->GetUnsupportedChildren().count(wxT("RegistryKeySet")));
    EXPECT_TRUE(rule->GetRegistryKeySets().empty());
}

// The rule list wraps its rules; everything below a rule stands unwrapped.
TEST(IntegrityRule, ListsPrintInlineUnderTheRuleAndWrappedAtTheTop) {
    ForcedPlatform linux(false);
    CIntegrityRules rules;
    ASSERT_TRUE(rules.FromXML(wxT(
        "<IntegrityRules><IntegrityRule id=\"4\" name=\"R\" identifier=\"1002\" severity=\"2\" hash=\"ab\">")
                                  wxT("<FileSet base=\"/etc\"><Operation types=\"create\"/><Include "
                                      "key=\"*.conf\"><Key pattern=\"a\"/>") wxT(
                                      "</Include><Exclude key=\"x\"/></FileSet><UserSet onChange=\"false\"/>")
                                      wxT("</IntegrityRule></IntegrityRules>")));
    EXPECT_EQ(
        "<IntegrityRules>\n"
        "  <IntegrityRule id=\"4\" name=\"R\" allowOnChange=\"false\" confidential=\"false\" hash=\"ab\" "
        "identifier=\"1002\" severity=\"2\" type=\"0\">\n"
        "    <FileSet onChange=\"true\" base=\"/etc\" followLinks=\"false\" includeRemovable=\"false\">\n"
        "      <Operation types=\"create\"/>\n"
        "      <Include key=\"*.conf\">\n"
        "        <Key pattern=\"a\"/>\n"
        "      </Include>\n"
        "      <Exclude key=\"x\"/>\n"
        "    </FileSet>\n"
        "    <UserSet onChange=\"false\"/>\n"
        "  </IntegrityRule>\n"
        "</IntegrityRules>\n",
        Text(rules.toString()));
    EXPECT_EQ("<IntegrityRules/>\n", Text(CIntegrityRules().toString()));
}

TEST(IntegrityRule, ProblemsComeFirstAndSurviveAReadingOfThePrintedRule) {
    ForcedPlatform linux(false);
    auto first = ParseRule(
        "<IntegrityRule id=\"7\" name=\"Mixed\"><FileSet base=\"/etc\"><Include key=\"*\" executable=\"1\"/>"
        "<Attributes><STANDARD/><members/><colour/></Attributes></FileSet>"
        "<DirectorySet base=\"/var\" colour=\"red\"/><PortSet><Include key=\"22\" "
        "executable=\"true\"/></PortSet>"
        "<ServiceSet/><Gadget/></IntegrityRule>");
    const std::string printed = Text(first->toString());
    const size_t service = printed.find("  <ServiceSet/>\n");
    const size_t gadget = printed.find("  <Gadget/>\n");
    const size_t sets = printed.find("  <DirectorySet ");
    ASSERT_NE(std::string::npos, service) << printed;
    ASSERT_NE(std::string::npos, gadget) << printed;
    EXPECT_LT(service, gadget) << "unsupported before unrecognised";
    EXPECT_LT(gadget, sets) << "both before the sets";

    auto second = ParseRule(printed.c_str());
    EXPECT_EQ(SortedLines(first->toString()), SortedLines(second->toString()));
    EXPECT_EQ(Sorted(first->GetUnsupportedChildren()), Sorted(second->GetUnsupportedChildren()));
    EXPECT_EQ(Sorted(first->GetUnrecognisedChildren()), Sorted(second->GetUnrecognisedChildren()));
}

}  // namespace
}  // namespace KvoTest
