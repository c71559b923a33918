// Rules: which entity sets they take on which platform, what they keep of
// elements and attributes they do not take, and how they print back.
#include <gtest/gtest.h>

#include <ostream>

#include "plugins/im/DirSet.h"
#include "plugins/im/WqlSet.h"
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

TEST(IntegrityRule, UnknownSetAttributeIsKeptByNameAndPrintedAsUnknown) {
    ForcedPlatform linux(false);
    auto rule = ParseRule("<IntegrityRule><DirectorySet base=\"/var/log\" colour=\"red\"/></IntegrityRule>");
    ASSERT_EQ(1u, rule->GetDirSets().size());
    const CEntitySet& set = *SetsOf(*rule).at(0);
    EXPECT_EQ(Sorted(Names({"colour"})), Sorted(set.GetUnrecognisedAttributes()));
    const std::string printed = Text(set.toString());
    EXPECT_EQ(
        "<DirectorySet onChange=\"true\" base=\"/var/log\" followLinks=\"false\" includeRemovable=\"false\" "
        "colour=\"unknown\"/>\n",
        printed);
}

TEST(IntegrityRule, ARegisteredAttributeWithABadValueFailsTheParse) {
    ForcedPlatform linux(false);
    CIntegrityRule rule;
    wxString error;
    EXPECT_FALSE(rule.FromXML(wxT("<IntegrityRule severity=\"high\"/>"), &error));
    EXPECT_NE(wxNOT_FOUND, error.Find(wxT("severity")));
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

TEST(IntegrityRule, SetToDefaultsDropsSetsAndProblems) {
    ForcedPlatform linux(false);
    auto rule = ParseRule("<IntegrityRule id=\"3\"><FileSet/><ServiceSet/><Gadget/></IntegrityRule>");
    rule->SetToDefaults();
    EXPECT_TRUE(SetsOf(*rule).empty());
    EXPECT_TRUE(rule->GetUnsupportedChildren().empty());
    EXPECT_TRUE(rule->GetUnrecognisedChildren().empty());
    EXPECT_EQ(0, rule->GetId());
}

// Realistic rule file read through the agent's configuration, on both platforms.
class RuleFile : public ::testing::Test {
protected:
    void Read(bool windows, CIntegrityRules& rules) {
        ScopedAgent agent(windows, TestData("rules/all-kinds.xml"));
        ASSERT_TRUE(agent.ok());
        ASSERT_TRUE(KvoCore::CDom::This()->ConfigGetXml(wxT("/SecurityConfiguration/IntegrityRules"), rules));
    }
    static const CIntegrityRule& Rule(const CIntegrityRules& rules, size_t index) {
        return *dynamic_cast<const CIntegrityRule*>(rules.Children().at(index));
    }
};

TEST_F(RuleFile, EveryKindOnLinux) {
    CIntegrityRules rules;
    Read(false, rules);
    ASSERT_EQ(4u, rules.size());

    const CIntegrityRule& web = Rule(rules, 0);
    EXPECT_EQ(10, web.GetId());
    EXPECT_EQ("Web server", Text(web.GetName()));
    EXPECT_EQ("2001", Text(web.GetIdentifier()));
    EXPECT_EQ(3, web.GetSeverity());
    EXPECT_EQ(1, web.GetType());
    EXPECT_TRUE(web.GetAllowOnChange());
    EXPECT_EQ(64u, web.GetHash().length()) << "the configuration layer adds a hash";
    ASSERT_EQ(1u, web.GetDirSets().size());
    ASSERT_EQ(1u, web.GetFileSets().size());
    const auto& dirs = *dynamic_cast<const KvoPluginIm::CDirSet*>(web.GetDirSets().Children()[0]);
    EXPECT_TRUE(dirs.GetFollowLinks());
    EXPECT_EQ(1u, dirs.GetAttributes().GetMonitored().count(wxT("inodenumber")));
    const auto& files = *dynamic_cast<const KvoPluginIm::CFileSet*>(web.GetFileSets().Children()[0]);
    EXPECT_FALSE(files.GetOnChange());
    EXPECT_TRUE(files.GetIncludeRemovable());
    EXPECT_EQ("/etc/nginx", Text(files.GetBase()));
    ASSERT_EQ(1u, files.GetOperations().size());
    EXPECT_EQ("create,delete",
              Text(dynamic_cast<const KvoPluginIm::CEntitySetOperation*>(files.GetOperations().Children()[0])
                       ->GetTypes()));
    ASSERT_EQ(2u, files.GetIncludes().size());
    ASSERT_EQ(1u, files.GetExcludes().size());
    const auto& executable =
        *dynamic_cast<const KvoPluginIm::CIncludeOrExclude*>(files.GetIncludes().Children()[1]);
    EXPECT_EQ(2u, executable.GetKeys().size());
    EXPECT_EQ("true", Text(executable.GetFeatures().at(wxT("executable"))));
    EXPECT_TRUE(web.GetUnsupportedChildren().empty());

    const CIntegrityRule& accounts = Rule(rules, 1);
    EXPECT_TRUE(accounts.GetConfidential());
    ASSERT_EQ(1u, accounts.GetUserSets().size());
    ASSERT_EQ(1u, accounts.GetGroupSets().size());
    EXPECT_EQ(17u, SetsOf(accounts).at(1)->GetAttributes().GetMonitored().size())
        << "ALL of a Linux user set";

    const CIntegrityRule& services = Rule(rules, 2);
    EXPECT_EQ(3u, SetsOf(services).size());
    EXPECT_EQ(Sorted(Names({"ServiceSet"})), Sorted(services.GetUnsupportedChildren()));

    const CIntegrityRule& registry = Rule(rules, 3);
    EXPECT_TRUE(SetsOf(registry).empty());
    EXPECT_EQ(Sorted(Names({"RegistryKeySet", "RegistryValueSet", "WQLSet"})),
              Sorted(registry.GetUnsupportedChildren()));
}

TEST_F(RuleFile, EveryKindOnWindows) {
    CIntegrityRules rules;
    Read(true, rules);
    ASSERT_EQ(4u, rules.size());
    const auto& dirs = *SetsOf(Rule(rules, 0)).at(0);
    EXPECT_EQ(Sorted(Names({"inodeNumber"})), Sorted(dirs.GetAttributes().GetUnsupported()));
    EXPECT_EQ(1u, dirs.GetAttributes().GetMonitored().count(wxT("flags")));
    EXPECT_EQ(14u, SetsOf(Rule(rules, 1)).at(1)->GetAttributes().GetMonitored().size())
        << "ALL of a Windows user set";

    const CIntegrityRule& services = Rule(rules, 2);
    EXPECT_EQ(4u, SetsOf(services).size());
    EXPECT_TRUE(services.GetUnsupportedChildren().empty());

    const CIntegrityRule& registry = Rule(rules, 3);
    EXPECT_EQ(1u, registry.GetRegistryKeySets().size());
    ASSERT_EQ(1u, registry.GetRegistryValueSets().size());
    ASSERT_EQ(1u, registry.GetWqlSets().size());
    const auto& wql = *dynamic_cast<const KvoPluginIm::CWqlSet*>(registry.GetWqlSets().Children()[0]);
    EXPECT_EQ("root\\cimv2", Text(wql.GetNamespace()));
    EXPECT_EQ("SELECT Name FROM Win32_Share", Text(wql.GetWql()));
    EXPECT_EQ("WMI", Text(wql.GetProvider()));
    EXPECT_EQ(30, wql.GetTimeout());
    const auto& values = *SetsOf(registry).at(1);
    EXPECT_EQ(Sorted(Names({"contents", "size", "type", "sha1"})),
              Sorted(values.GetAttributes().GetMonitored()));
}

}  // namespace
}  // namespace KvoTest
