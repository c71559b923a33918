// Shared by the rule model tests: parsing a rule from text, and
// comparing name sets and printed texts.
#pragma once

#include <gtest/gtest.h>
#include <wx/tokenzr.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/Utilities.h"
#include "plugins/im/IntegrityRule.h"
#include "tests/unit/im/ForcedPlatform.h"
#include "tests/unit/im/ScopedAgent.h"

namespace KvoTest {

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
