// The settings of AgentConfiguration as the control object reads them: a value
// is taken only when it parses whole; anything else, and a setting removed
// again, gives the default.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/ControlThreadFixture.h"

using KvoPluginIm::CSystemIntegrityThread;

namespace {

using SettingsTest = KvoTest::ControlObjectFixture;
using Read = std::function<std::string(const CSystemIntegrityThread&)>;
using Values = std::vector<std::pair<const char*, const char*>>;  // text -> value read; nullptr: the default

Read Number(int (CSystemIntegrityThread::*get)() const) {
    return [get](const CSystemIntegrityThread& thread) { return std::to_string((thread.*get)()); };
}

TEST_F(SettingsTest, EachSettingParsesWholeOrKeepsItsDefault) {
    // Out of range (a negative time or size, a share outside 1..100) is the default too.
    const Values numbers = {{"1000", "1000"}, {"0", "0"},   {"-7", nullptr}, {"12abc", nullptr}, {"abc", nullptr},
                            {"", nullptr},    {"1.5", nullptr}, {"0x10", nullptr}, {"12 ", nullptr},
                            {"2147483647", "2147483647"}};
    const Values percent = {{"50", "50"}, {"1", "1"}, {"0", nullptr}, {"-7", nullptr}, {"101", nullptr}, {"5x", nullptr}};
    const struct {
        const char* attribute;
        Read read;
        const char* byDefault;
        Values values;
    } settings[] = {
        {"systemIntegrityAllowOnChange",
         [](const CSystemIntegrityThread& t) { return std::string(t.AllowOnChange() ? "true" : "false"); }, "false",
         {{"true", "true"}, {"TRUE", nullptr}, {"True", nullptr}, {"1", nullptr}, {"", nullptr}, {"true ", nullptr}}},
        {"systemIntegrityOnchangeBackoffMinMS", Number(&CSystemIntegrityThread::OnChangeBackoffMin), "5000", numbers},
        {"systemIntegrityOnchangeBackoffMaxMS", Number(&CSystemIntegrityThread::OnChangeBackoffMax), "30000", numbers},
        {"systemIntegrityFreeMbMin", Number(&CSystemIntegrityThread::FreeMbMin), "5", numbers},
        {"systemIntegrityCPULimit", Number(&CSystemIntegrityThread::CpuLimit), "100", percent},
        {"systemIntegrityEventMode",
         [](const CSystemIntegrityThread&) { return std::to_string(KvoPluginIm::GetEventMode()); }, "1",
         {{"2", "2"}, {"02", "2"}, {"1", nullptr}, {"3", nullptr}, {"0", nullptr}, {"2x", nullptr}, {"", nullptr}}},
        {"contentShortHandMapping",
         [](const CSystemIntegrityThread& t) { return t.ContentShortHandMapping().utf8_string(); }, "sha1",
         {{"md5,sha256", "md5,sha256"}, {"sha256", "sha256"}, {"", nullptr}}},
    };
    const auto apply = [this](const std::string& attributes) {
        ReloadConfig(attributes);
        m_thread->UpdateSettingsFromConfig();
    };
    for (const auto& setting : settings) {
        for (const auto& value : setting.values) {
            const std::string attributes = std::string(setting.attribute) + "=\"" + value.first + "\"";
            apply(attributes);
            EXPECT_EQ(value.second ? value.second : setting.byDefault, setting.read(*m_thread)) << attributes;
        }
        apply("");
        EXPECT_EQ(setting.byDefault, setting.read(*m_thread)) << setting.attribute << " removed again";
    }
}

}  // namespace
