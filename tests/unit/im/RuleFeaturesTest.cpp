// Include and exclude features: stored, refused as unsupported, or unknown,
// by the kind of the owning set and the platform.
#include <gtest/gtest.h>

#include <ostream>

#include "plugins/im/FileSet.h"
#include "plugins/im/PortSet.h"
#include "tests/unit/im/RuleTestSupport.h"

using KvoCore::MapStringToString;
using KvoPluginIm::CFileSet;
using KvoPluginIm::CIncludeOrExclude;
using KvoPluginIm::CPortSet;

namespace KvoTest {
namespace {

const CIncludeOrExclude& FirstInclude(const KvoPluginIm::CEntitySet& set) {
    return *dynamic_cast<const CIncludeOrExclude*>(set.GetIncludes().Children().at(0));
}

struct FeatureRow {
    const char* kind;
    bool windows;
    const char* element;  // Include or Exclude
    const char* name;
    const char* value;
    const char* outcome;  // "feature", "unsupported" or "unknown"
};

std::ostream& operator<<(std::ostream& out, const FeatureRow& row) {
    return out << row.kind << (row.windows ? " on Windows: " : " on Linux: ") << row.element << " "
               << row.name;
}

class FeatureOutcome : public ::testing::TestWithParam<FeatureRow> {};

TEST_P(FeatureOutcome, IsJudgedByKindAndPlatform) {
    const FeatureRow& row = GetParam();
    ForcedPlatform platform(row.windows);
    const std::string xml = std::string("<IntegrityRule><") + row.kind + "><" + row.element + " key=\"k\" " +
                            row.name + "=\"" + row.value + "\"/></" + row.kind + "></IntegrityRule>";
    auto rule = ParseRule(xml.c_str());
    auto sets = SetsOf(*rule);
    ASSERT_EQ(1u, sets.size());
    const auto& list = std::string(row.element) == "Include"
                           ? static_cast<const KvoCore::XMLObjectList&>(sets[0]->GetIncludes())
                           : static_cast<const KvoCore::XMLObjectList&>(sets[0]->GetExcludes());
    ASSERT_EQ(1u, list.size());
    const auto& element = *dynamic_cast<const CIncludeOrExclude*>(list.Children()[0]);
    const wxString name = wxString::FromUTF8(row.name);
    const std::string outcome = row.outcome;
    EXPECT_EQ(outcome == "feature" ? 1u : 0u, element.GetFeatures().size());
    EXPECT_EQ(outcome == "unsupported" ? 1u : 0u, element.GetUnsupportedFeatures().count(name));
    EXPECT_EQ(outcome == "unknown" ? 1u : 0u, element.GetUnrecognisedFeatures().count(name));
    if (outcome == "feature") {
        ASSERT_EQ(1u, element.GetFeatures().count(name)) << "stored under its name as written";
        EXPECT_EQ(row.value, Text(element.GetFeatures().at(name)));
    }
    const std::string printed = Text(element.toString());
    const std::string shown =
        std::string(" ") + row.name + "=\"" + (outcome == "feature" ? row.value : outcome.c_str()) + "\"";
    EXPECT_NE(std::string::npos, printed.find(shown)) << printed;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FeatureOutcome,
    ::testing::Values(FeatureRow{"FileSet", false, "Include", "executable", "true", "feature"},
                      FeatureRow{"FileSet", false, "Include", "Executable", "yes", "feature"},
                      FeatureRow{"FileSet", false, "Exclude", "whereBaseInOtherSet", "true", "feature"},
                      FeatureRow{"DirectorySet", false, "Include", "executable", "true", "unsupported"},
                      FeatureRow{"PortSet", false, "Include", "executable", "true", "unsupported"},
                      FeatureRow{"PortSet", false, "Exclude", "process", "sshd", "feature"},
                      FeatureRow{"FileSet", false, "Include", "colour", "red", "unknown"},
                      FeatureRow{"ProcessSet", false, "Include", "commandLine", "/bin/sh -c x", "feature"},
                      FeatureRow{"UserSet", false, "Include", "lockedOut", "false", "feature"},
                      FeatureRow{"GroupSet", false, "Include", "user", "root", "unsupported"},
                      FeatureRow{"InstalledSoftwareSet", false, "Include", "name", "x", "unsupported"},
                      FeatureRow{"InstalledSoftwareSet", true, "Include", "name", "x", "feature"},
                      FeatureRow{"ServiceSet", true, "Include", "state", "running", "feature"},
                      FeatureRow{"WQLSet", true, "Include", "path", "x", "unsupported"}));

TEST(RuleFeatures, KeyAndCaseSensitiveAreNotFeatures) {
    ForcedPlatform linux(false);
    CFileSet set;
    ASSERT_TRUE(
        set.FromXML(wxT("<FileSet><Include key=\"/ETC/Passwd\" caseSensitive=\"FALSE\"><Key "
                        "pattern=\"a*\"/><Key pattern=\"b\"/>") wxT("</Include></FileSet>")));
    const CIncludeOrExclude& include = FirstInclude(set);
    EXPECT_EQ("/ETC/Passwd", Text(include.GetKey()));
    EXPECT_EQ("FALSE", Text(include.GetCaseSensitive()));
    EXPECT_TRUE(include.GetFeatures().empty());
    ASSERT_EQ(2u, include.GetKeys().size());
    EXPECT_EQ("a*",
              Text(dynamic_cast<const KvoPluginIm::CKey*>(include.GetKeys().Children()[0])->GetPattern()));
}

TEST(RuleFeatures, AFeatureValueSurvivesAReadingOfThePrintedSet) {
    ForcedPlatform linux(false);
    CFileSet first;
    ASSERT_TRUE(first.FromXML(wxT("<FileSet><Include key=\"*\" executable=\"a&quot;b&amp;\"/></FileSet>")));
    CFileSet second;
    ASSERT_TRUE(second.FromXML(first.toString()));
    const MapStringToString expected{{wxT("executable"), wxT("a\"b&")}};
    EXPECT_EQ(expected, FirstInclude(second).GetFeatures());
}

}  // namespace
}  // namespace KvoTest
