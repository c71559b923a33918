// Parses a rule from text for the rule storage tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "plugins/im/IntegrityRule.h"

namespace KvoTest {

inline std::unique_ptr<KvoPluginIm::CIntegrityRule> ParseRule(const char* xml) {
    auto rule = std::make_unique<KvoPluginIm::CIntegrityRule>();
    wxString error;
    EXPECT_TRUE(rule->FromXML(wxString::FromUTF8(xml), &error)) << error << "\n" << xml;
    return rule;
}

}  // namespace KvoTest
