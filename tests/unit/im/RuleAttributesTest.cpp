// The attributes an entity set monitors: names, keywords, platform pieces and
// what is printed back for names that are not taken.
#include <gtest/gtest.h>

#include <ostream>

#include "plugins/im/FileSet.h"
#include "tests/unit/im/RuleTestSupport.h"

using KvoCore::WxStringSet;
using KvoPluginIm::CFileSet;

namespace KvoTest {
namespace {

const char* const kLinuxFileStandard[] = {"created",     "group",    "lastmodified", "owner",
                                          "permissions", "contents", "size",         "symlinkpath"};

WxStringSet FileStandard(bool windows) {
    WxStringSet names;
    for (const char* name : kLinuxFileStandard) names.insert(name);
    if (windows) names.insert("flags");
    return names;
}

WxStringSet MonitoredBy(const char* setXml) {
    CFileSet set;
    wxString error;
    EXPECT_TRUE(set.FromXML(wxString::FromUTF8(setXml), &error)) << error;
    WxStringSet monitored;
    set.GetAttributes().GetAttributesToMonitor(monitored);
    return monitored;
}

// The platform reaches the model either through the forced value (no agent)
// or through the agent's "kvo.host.windows" key.
struct PlatformRow {
    const char* how;
    bool windows;
    bool withAgent;
};

std::ostream& operator<<(std::ostream& out, const PlatformRow& row) { return out << row.how; }

class StandardFileAttributes : public ::testing::TestWithParam<PlatformRow> {};

TEST_P(StandardFileAttributes, FollowThePlatform) {
    const PlatformRow& row = GetParam();
    std::unique_ptr<ForcedPlatform> forced;
    std::unique_ptr<ScopedAgent> agent;
    if (row.withAgent)
        agent = std::make_unique<ScopedAgent>(row.windows);
    else
        forced = std::make_unique<ForcedPlatform>(row.windows);
    EXPECT_EQ(Sorted(FileStandard(row.windows)),
              Sorted(MonitoredBy("<FileSet><Attributes><STANDARD/></Attributes></FileSet>")));
}

INSTANTIATE_TEST_SUITE_P(Platforms, StandardFileAttributes,
                         ::testing::Values(PlatformRow{"forced Linux", false, false},
                                           PlatformRow{"forced Windows", true, false},
                                           PlatformRow{"agent on Linux", false, true},
                                           PlatformRow{"agent on Windows", true, true}));

TEST(RuleAttributes, KeywordsIgnoreCaseAndNamesAreStoredLowerCase) {
    ForcedPlatform linux(false);
    EXPECT_EQ(Sorted(FileStandard(false)), Sorted(MonitoredBy("<FileSet><Attributes><Standard/></Attributes></FileSet>")));
    EXPECT_EQ(Sorted(Names({"sha256", "lastmodified"})),
              Sorted(MonitoredBy("<FileSet><Attributes><SHA256/><LastModified/></Attributes></FileSet>")));
}

TEST(RuleAttributes, AllWithMd5MonitorsEveryFileAttributeOnce) {
    ForcedPlatform linux(false);
    CFileSet set;
    ASSERT_TRUE(set.FromXML(wxT("<FileSet><Attributes><all/><md5/></Attributes></FileSet>")));
    WxStringSet monitored;
    set.GetAttributes().GetAttributesToMonitor(monitored);
    EXPECT_EQ(
        Sorted(Names({"created", "group", "lastmodified", "owner", "permissions", "lastaccessed",
                      "devicenumber", "inodegenerationnumber", "inodenumber", "contents", "size",
                      "symlinkpath", "blocksallocated", "growing", "md5", "sha1", "sha256", "shrinking"})),
        Sorted(monitored));
    const std::vector<std::string> lines = SortedLines(set.toString());
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), std::string("    <md5 />"))) << Text(set.toString());
}

// What one attribute element becomes, by kind and platform.
struct OutcomeRow {
    const char* kind;
    bool windows;
    const char* element;
    const char* outcome;  // "monitored:<name>", "unsupported" or "unrecognised"
};

std::ostream& operator<<(std::ostream& out, const OutcomeRow& row) {
    return out << row.kind << (row.windows ? " on Windows: " : " on Linux: ") << row.element;
}

class AttributeOutcome : public ::testing::TestWithParam<OutcomeRow> {};

TEST_P(AttributeOutcome, IsJudgedByKindAndPlatform) {
    const OutcomeRow& row = GetParam();
    ForcedPlatform platform(row.windows);
    const std::string xml = std::string("<IntegrityRule><") + row.kind + "><Attributes><" + row.element +
                            "/></Attributes></" + row.kind + "></IntegrityRule>";
    auto rule = ParseRule(xml.c_str());
    auto sets = SetsOf(*rule);
    ASSERT_EQ(1u, sets.size());
    const auto& attributes = sets[0]->GetAttributes();
    const std::string outcome = row.outcome;
    const wxString element = wxString::FromUTF8(row.element);
    WxStringSet monitored, unsupported, unrecognised;
    if (outcome.rfind("monitored:", 0) == 0)
        monitored.insert(wxString::FromUTF8(outcome.substr(10).c_str()));
    else
        (outcome == "unsupported" ? unsupported : unrecognised).insert(element);
    EXPECT_EQ(Sorted(monitored), Sorted(attributes.GetMonitored()));
    EXPECT_EQ(Sorted(unsupported), Sorted(attributes.GetUnsupported()));
    EXPECT_EQ(Sorted(unrecognised), Sorted(attributes.GetUnrecognised()));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AttributeOutcome,
    ::testing::Values(OutcomeRow{"FileSet", false, "sha256", "monitored:sha256"},
                      OutcomeRow{"FileSet", false, "flags", "unsupported"},
                      OutcomeRow{"FileSet", true, "flags", "monitored:flags"},
                      OutcomeRow{"FileSet", true, "inodeNumber", "unsupported"},
                      OutcomeRow{"FileSet", false, "inodeNumber", "monitored:inodenumber"},
                      OutcomeRow{"FileSet", false, "members", "unsupported"},
                      OutcomeRow{"FileSet", false, "colour", "unrecognised"},
                      OutcomeRow{"DirectorySet", false, "sha256", "unsupported"},
                      OutcomeRow{"DirectorySet", false, "symLinkPath", "monitored:symlinkpath"},
                      OutcomeRow{"GroupSet", false, "subGroups", "unsupported"},
                      OutcomeRow{"GroupSet", true, "subGroups", "monitored:subgroups"},
                      OutcomeRow{"UserSet", false, "logonShell", "monitored:logonshell"},
                      OutcomeRow{"UserSet", true, "logonShell", "unsupported"},
                      OutcomeRow{"UserSet", true, "profilePath", "monitored:profilepath"},
                      OutcomeRow{"PortSet", false, "created", "unsupported"},
                      OutcomeRow{"PortSet", true, "created", "monitored:created"},
                      OutcomeRow{"ProcessSet", false, "threads", "monitored:threads"},
                      OutcomeRow{"InstalledSoftwareSet", false, "name", "unsupported"},
                      OutcomeRow{"InstalledSoftwareSet", true, "name", "monitored:name"},
                      OutcomeRow{"InstalledSoftwareSet", true, "parent", "monitored:parent"},
                      OutcomeRow{"RegistryValueSet", true, "type", "monitored:type"},
                      OutcomeRow{"RegistryKeySet", true, "securityDescriptorSize",
                                 "monitored:securitydescriptorsize"},
                      OutcomeRow{"ServiceSet", true, "rebootMessage", "monitored:rebootmessage"},
                      // A kind that offers nothing takes no keyword either.
                      OutcomeRow{"WQLSet", true, "STANDARD", "unrecognised"},
                      OutcomeRow{"WQLSet", true, "ALL", "unrecognised"},
                      OutcomeRow{"WQLSet", true, "size", "unsupported"}));

// Standard lists where they differ from the allowed ones or by platform.
struct StandardRow {
    const char* kind;
    bool windows;
    std::vector<const char*> expected;
};

std::ostream& operator<<(std::ostream& out, const StandardRow& row) {
    return out << row.kind << (row.windows ? " on Windows" : " on Linux");
}

class StandardOfKind : public ::testing::TestWithParam<StandardRow> {};

TEST_P(StandardOfKind, MonitorsTheKindsStandardList) {
    const StandardRow& row = GetParam();
    ForcedPlatform platform(row.windows);
    const std::string xml = std::string("<IntegrityRule><") + row.kind +
                            "><Attributes><STANDARD/></Attributes></" + row.kind + "></IntegrityRule>";
    auto rule = ParseRule(xml.c_str());
    auto sets = SetsOf(*rule);
    ASSERT_EQ(1u, sets.size());
    WxStringSet expected;
    for (const char* name : row.expected) expected.insert(name);
    EXPECT_EQ(Sorted(expected), Sorted(sets[0]->GetAttributes().GetMonitored()));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StandardOfKind,
    ::testing::Values(
        StandardRow{"DirectorySet", false, {"created", "group", "lastmodified", "owner", "permissions", "symlinkpath"}},
        StandardRow{"GroupSet", false, {"group", "members"}},
        StandardRow{"GroupSet", true, {"group", "members", "subgroups"}},
        StandardRow{"InstalledSoftwareSet", true, {"installeddate", "version"}},
        StandardRow{"PortSet", true, {"group", "listeners", "path", "process", "processid", "user", "created"}},
        StandardRow{"ProcessSet", false, {"commandline", "group", "parent", "path", "process", "user"}},
        StandardRow{"UserSet", false, {"cannotchangepassword", "disabled", "groups", "homefolder", "passwordhasexpired",
                                       "passwordlastchanged", "passwordneverexpires", "user", "group", "logonshell",
                                       "passwordexpiryindays", "passwordmindaysbetweenchanges"}},
        StandardRow{"UserSet", true, {"cannotchangepassword", "disabled", "groups", "homefolder", "passwordhasexpired",
                                      "passwordlastchanged", "passwordneverexpires", "user", "logonscript",
                                      "profilepath"}},
        StandardRow{"RegistryKeySet", true, {"group", "lastmodified", "owner", "permissions"}},
        StandardRow{"RegistryValueSet", true, {"contents", "size", "type"}},
        StandardRow{"ServiceSet", true, {"binarypathname", "dependson", "description", "firstfailure", "group",
                                         "loadordergroup", "logonas", "owner", "permissions", "processid",
                                         "resetfailcountafter", "runprogram", "secondfailure", "starttype", "state",
                                         "subsequentfailures"}}));

TEST(RuleAttributes, WhatASetMonitorsWithAndWithoutAnAttributesElement) {
    ForcedPlatform linux(false);
    EXPECT_EQ(Sorted(FileStandard(false)), Sorted(MonitoredBy("<FileSet base=\"/etc\"/>")));
    // Given but naming nothing usable: nothing is monitored, not the standard list.
    EXPECT_TRUE(MonitoredBy("<FileSet><Attributes/></FileSet>").empty());
    EXPECT_TRUE(MonitoredBy("<FileSet><Attributes><colour/></Attributes></FileSet>").empty());
}

}  // namespace
}  // namespace KvoTest
