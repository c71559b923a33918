// Shared by the rule model tests: choosing the platform the rules are read
// for, parsing a rule from text, and comparing name sets.
#pragma once

#include <gtest/gtest.h>
#include <wx/tokenzr.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/Dom.h"
#include "core/Utilities.h"
#include "plugins/im/HostPlatform.h"
#include "plugins/im/IntegrityRule.h"
#include "tests/unit/TempDir.h"

namespace KvoTest {

// Reads rules as on Windows (true) or Linux for one scope, through the forced
// platform value, which counts while no agent object exists.
class ForcedPlatform {
public:
    explicit ForcedPlatform(bool windows) { KvoPluginIm::SetForcePlatform(windows ? 1 : 0); }
    ~ForcedPlatform() { KvoPluginIm::SetForcePlatform(0); }
    ForcedPlatform(const ForcedPlatform&) = delete;
    ForcedPlatform& operator=(const ForcedPlatform&) = delete;
};

// An agent object for one scope, in a temporary work directory, with an
// optional configuration file; the platform follows "kvo.host.windows".
class ScopedAgent {
public:
    explicit ScopedAgent(bool windows, const std::string& config = std::string()) {
        wxString error;
        m_created = KvoCore::CDom::Create({wxString(m_dir.file("work")), wxString(config)}, error);
        EXPECT_TRUE(m_created) << error;
        if (m_created) KvoCore::CDom::This()->Set("kvo.host.windows", windows);
    }
    ~ScopedAgent() {
        if (m_created) KvoCore::CDom::Destroy();
    }
    ScopedAgent(const ScopedAgent&) = delete;
    ScopedAgent& operator=(const ScopedAgent&) = delete;
    bool ok() const { return m_created; }

private:
    TempDir m_dir;
    bool m_created = false;
};

inline std::string TestData(const std::string& name) {
    const char* dir = getenv("KVO_TEST_DATA");
    std::string base =
        dir ? dir : std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/unit/")) + "/data";
    return base + "/" + name;
}

inline KvoCore::WxStringSet Names(std::initializer_list<const char*> names) {
    KvoCore::WxStringSet set;
    for (const char* name : names) set.insert(wxString::FromUTF8(name));
    return set;
}

// Sorted, so that a failure message is readable.
inline std::vector<std::string> Sorted(const KvoCore::WxStringSet& set) {
    std::vector<std::string> names;
    for (const wxString& name : set) names.push_back(name.utf8_string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::unique_ptr<KvoPluginIm::CIntegrityRule> ParseRule(const char* xml) {
    auto rule = std::make_unique<KvoPluginIm::CIntegrityRule>();
    wxString error;
    EXPECT_TRUE(rule->FromXML(wxString::FromUTF8(xml), &error)) << error << "\n" << xml;
    return rule;
}

inline std::vector<const KvoPluginIm::CEntitySet*> SetsOf(const KvoPluginIm::CIntegrityRule& rule) {
    std::vector<const KvoPluginIm::CEntitySet*> sets;
    rule.ForEachEntitySet([&sets](const KvoPluginIm::CEntitySet& set) { sets.push_back(&set); });
    return sets;
}

// The printed lines, sorted: the order of names within one set follows the
// hash container, so texts are compared as sorted lines.
inline std::vector<std::string> SortedLines(const wxString& text) {
    std::vector<std::string> lines;
    wxStringTokenizer tokens(text, wxT("\n"));
    while (tokens.HasMoreTokens()) lines.push_back(tokens.GetNextToken().utf8_string());
    std::sort(lines.begin(), lines.end());
    return lines;
}

inline std::string Text(const wxString& text) { return text.utf8_string(); }

}  // namespace KvoTest
