// Rule storage: what a rule holds that the plug-in does not take is reported
// as agent events 8005 to 8011, and the rest of the rule is stored anyway.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/im/RuleStorageFixture.h"

namespace {

class RuleStorageEventsTest : public KvoTest::RuleStorageFixture {};

TEST_F(RuleStorageEventsTest, EachProblemHasItsEventAndTheRuleIsStillStored) {
    const struct {
        const char* body;
        const char* event;
        const char* table;  // holds the rule's one set all the same
    } cases[] = {
        {"<Colour/><FileSet base=\"/etc\"/>", "8005|1|Web|server|Colour", "FileSets"},
        {"<ServiceSet/><FileSet base=\"/etc\"/>", "8006|1|Web|server|ServiceSet", "FileSets"},
        {"<SharedDirectorySet/><UserSet/>", "8006|1|Web|server|SharedDirectorySet", "UserSets"},
        {"<FileSet base=\"/etc\"><Include key=\"x\" colour=\"red\"/></FileSet>", "8007|1|Web|server|FileSet|colour",
         "FileSets"},
        {"<PortSet><Exclude key=\"22\" executable=\"true\"/></PortSet>", "8008|1|Web|server|PortSet|executable",
         "PortSets"},
        {"<FileSet base=\"/etc\"><Attributes><colour/></Attributes></FileSet>", "8009|1|Web|server|FileSet|colour",
         "FileSets"},
        {"<FileSet base=\"/etc\"><Attributes><members/></Attributes></FileSet>", "8010|1|Web|server|FileSet|members",
         "FileSets"},
        {"<DirectorySet base=\"/var\" colour=\"red\"/>", "8011|1|Web|server|DirectorySet|colour", "DirectorySets"},
    };
    for (const auto& c : cases) {
        Execute("DELETE FROM IntegrityRules");
        ClearEvents();
        RecreateThread();
        const std::string xml = std::string("<IntegrityRule id=\"1\" name=\"Web|server\">") + c.body +
                                "</IntegrityRule>";
        Store(xml.c_str());
        // The bar inside the rule name is replaced, so that fields stay apart.
        std::string expected = c.event;
        expected.replace(expected.find("Web|server"), 10, "Web\xC2\xA6server");
        EXPECT_EQ(std::vector<std::string>{expected}, Events()) << c.body;
        EXPECT_TRUE(m_thread->HasRuleProblem()) << c.body;
        EXPECT_EQ("1", Value("SELECT COUNT(*) FROM IntegrityRules")) << c.body;
        EXPECT_EQ("1", Value(std::string("SELECT COUNT(*) FROM ") + c.table)) << c.body;
    }
}

}  // namespace
