#include <gtest/gtest.h>

#include <fstream>

#include <wx/xml/xml.h>

#include "core/Configuration.h"
#include "tests/unit/TempDir.h"

using KvoCore::CConfiguration;

namespace {

const char* const kRule =
    "<IntegrityRule id=\"1\" name=\"System configuration\" identifier=\"1002\" severity=\"2\">"
    "<FileSet base=\"/etc\"><Include key=\"**/*.conf\"/><Attributes><STANDARD/><sha256/></Attributes></FileSet>"
    "</IntegrityRule>";

wxString Document(const wxString& rules, const wxString& extra = wxString()) {
    return "<SecurityConfiguration>" + extra + "<IntegrityRules>" + rules + "</IntegrityRules></SecurityConfiguration>";
}

wxString HashOf(const wxString& rules) {
    CConfiguration config;
    wxString error;
    EXPECT_TRUE(config.LoadText(Document(rules), "test", error)) << error;
    wxString hash;
    EXPECT_TRUE(config.GetAttribute("/SecurityConfiguration/IntegrityRules/IntegrityRule", "hash", hash));
    return hash;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

}  // namespace

TEST(Configuration, RuleHashIgnoresWhatMayChangeFreely) {
    const wxString base = HashOf(kRule);
    ASSERT_EQ(64u, base.length());
    // kRule with one piece of text replaced.
    auto variant = [](const std::string& from, const std::string& to) {
        std::string rule = kRule;
        return rule.replace(rule.find(from), from.size(), to);
    };
    const std::string same[] = {
        // attribute order and white space
        "<IntegrityRule severity=\"2\" identifier=\"1002\"   name=\"System configuration\" id=\"1\">\n"
        "  <FileSet base=\"/etc\">\n    <Include key=\"**/*.conf\"/>\n"
        "    <Attributes><STANDARD/><sha256/></Attributes>\n  </FileSet>\n</IntegrityRule>",
        variant("severity=\"2\"", "severity=\"2\" type=\"3\" confidential=\"true\""),
        variant("severity=\"2\">", "severity=\"2\"><!-- note -->"),
    };
    for (const std::string& rule : same) EXPECT_EQ(base, HashOf(rule)) << rule;
    const std::string different[] = {
        variant("**/*.conf", "**/*.cnf"), variant("severity=\"2\"", "severity=\"3\""), variant("<sha256/>", "<md5/>"),
        // a value moved between attributes must not collide
        variant("configuration\" identifier=\"1002\"", "configuration1002\" identifier=\"\""),
    };
    for (const std::string& rule : different) EXPECT_NE(base, HashOf(rule)) << rule;
}

TEST(Configuration, GivenRuleHashIsKept) {
    EXPECT_EQ("abc", HashOf("<IntegrityRule id=\"1\" name=\"x\" hash=\"abc\"/>"));
}

TEST(Configuration, ParseErrorsNameTheFileAndLine) {
    TempDir dir;
    CConfiguration config;
    wxString error;
    WriteFile(dir.file("latin1.xml"), "<SecurityConfiguration>\n<AgentConfiguration name=\"caf\xe9\"/>\n"
                                      "</SecurityConfiguration>\n");
    EXPECT_FALSE(config.Load(dir.file("latin1.xml"), error));
    EXPECT_NE(wxNOT_FOUND, error.Find("line 2")) << error;

    WriteFile(dir.file("other.xml"), "<Other/>");
    EXPECT_FALSE(config.Load(dir.file("other.xml"), error));
    EXPECT_NE(wxNOT_FOUND, error.Find("SecurityConfiguration")) << error;

    WriteFile(dir.file("empty.xml"), "");
    EXPECT_FALSE(config.Load(dir.file("empty.xml"), error));
    EXPECT_FALSE(config.IsLoaded());
}

TEST(Configuration, FailedReloadKeepsTheConfigurationInForce) {
    TempDir dir;
    WriteFile(dir.file("agent.xml"), Document(kRule, "<AgentConfiguration systemIntegrityEventMode=\"2\"/>").ToStdString());
    CConfiguration config;
    wxString error;
    ASSERT_TRUE(config.Load(dir.file("agent.xml"), error)) << error;
    WriteFile(dir.file("agent.xml"), "<SecurityConfiguration><AgentConfiguration");
    EXPECT_FALSE(config.Reload(error));
    wxString mode;
    EXPECT_TRUE(config.GetAttribute("/SecurityConfiguration/AgentConfiguration", "systemIntegrityEventMode", mode));
    EXPECT_EQ("2", mode);
    EXPECT_FALSE(config.GetAttribute("/SecurityConfiguration/AgentConfiguration", "absent", mode));
    EXPECT_FALSE(config.GetAttribute("/SecurityConfiguration/Missing", "x", mode));
}

TEST(Configuration, EmptyMeansParsedWithoutChildElements) {
    const std::pair<const char*, bool> cases[] = {
        {"<SecurityConfiguration>\n  <!-- nothing -->\n</SecurityConfiguration>", true},
        {"<SecurityConfiguration><IntegrityRules/></SecurityConfiguration>", false},
        {"<SecurityConfiguration>", false},
    };
    for (const auto& [text, empty] : cases) {
        CConfiguration config;
        wxString error;
        config.LoadText(text, "test", error);
        EXPECT_EQ(empty, config.IsEmpty()) << text;
    }
    CConfiguration none;
    EXPECT_FALSE(none.IsEmpty());
}

