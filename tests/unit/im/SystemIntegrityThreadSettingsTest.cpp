#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/ControlThreadFixture.h"

using KvoPluginIm::CSystemIntegrityThread;
using KvoPluginIm::GetEventMode;

namespace {

class SettingsTest : public KvoTest::ControlObjectFixture {
protected:

    // Reads the settings of a configuration whose AgentConfiguration carries attributes.
    void Apply(const std::string& attributes) {
        ReloadConfig(attributes);
        m_thread->UpdateSettingsFromConfig();
    }

};

TEST_F(SettingsTest, AllowOnChangeOnlyForExactlyTrue) {
    const struct {
        const char* attributes;
        bool expected;
    } cases[] = {
        {"", false},
        {"systemIntegrityAllowOnChange=\"true\"", true},
        {"systemIntegrityAllowOnChange=\"TRUE\"", false},
        {"systemIntegrityAllowOnChange=\"True\"", false},
        {"systemIntegrityAllowOnChange=\"1\"", false},
        {"systemIntegrityAllowOnChange=\"\"", false},
        {"systemIntegrityAllowOnChange=\"true \"", false},
    };
    for (const auto& c : cases) {
        Apply(c.attributes);
        EXPECT_EQ(c.expected, m_thread->AllowOnChange()) << c.attributes;
    }
}

TEST_F(SettingsTest, NumbersKeepTheirDefaultUnlessWhollyDecimal) {
    using Getter = int (CSystemIntegrityThread::*)() const;
    const struct {
        const char* attribute;
        Getter get;
        int defaultValue;
        int lowest, highest;  // outside: the default
    } settings[] = {
        {"systemIntegrityOnchangeBackoffMinMS", &CSystemIntegrityThread::OnChangeBackoffMin, 5000, 0, INT_MAX},
        {"systemIntegrityOnchangeBackoffMaxMS", &CSystemIntegrityThread::OnChangeBackoffMax, 30000, 0, INT_MAX},
        {"systemIntegrityFreeMbMin", &CSystemIntegrityThread::FreeMbMin, 5, 0, INT_MAX},
        {"systemIntegrityCPULimit", &CSystemIntegrityThread::CpuLimit, 100, 1, 100},
    };
    const struct {
        const char* text;  // null: attribute absent
        bool parses;
        int value;
    } values[] = {
        {nullptr, false, 0}, {"1000", true, 1000}, {"0", true, 0},        {"-7", true, -7},  {"50", true, 50},
        {"12abc", false, 0}, {"abc", false, 0},    {"", false, 0},        {"1.5", false, 0},
        {"0x10", false, 0},  {"12 ", false, 0},    {"2147483647", true, 2147483647},
    };
    for (const auto& setting : settings) {
        for (const auto& v : values) {
            std::string attributes;
            if (v.text) attributes = std::string(setting.attribute) + "=\"" + v.text + "\"";
            Apply(attributes);
            const bool inRange = v.parses && v.value >= setting.lowest && v.value <= setting.highest;
            const int expected = inRange ? v.value : setting.defaultValue;
            EXPECT_EQ(expected, ((*m_thread).*setting.get)()) << attributes << " for " << setting.attribute;
        }
    }
}

TEST_F(SettingsTest, EventModeIsTwoOnlyForTwo) {
    const struct {
        const char* attributes;
        int mode;
    } cases[] = {
        {"", 1},
        {"systemIntegrityEventMode=\"2\"", 2},
        {"systemIntegrityEventMode=\"1\"", 1},
        {"systemIntegrityEventMode=\"3\"", 1},
        {"systemIntegrityEventMode=\"0\"", 1},
        {"systemIntegrityEventMode=\"02\"", 2},
        {"systemIntegrityEventMode=\"2x\"", 1},
        {"systemIntegrityEventMode=\"\"", 1},
    };
    for (const auto& c : cases) {
        Apply(c.attributes);
        EXPECT_EQ(c.mode, GetEventMode()) << c.attributes;
    }
}

TEST_F(SettingsTest, ContentShortHandMappingDefaultsToSha1) {
    const struct {
        const char* attributes;
        const char* mapping;
    } cases[] = {
        {"", "sha1"},
        {"contentShortHandMapping=\"\"", "sha1"},
        {"contentShortHandMapping=\"md5,sha256\"", "md5,sha256"},
        {"contentShortHandMapping=\"sha256\"", "sha256"},
    };
    for (const auto& c : cases) {
        Apply(c.attributes);
        EXPECT_EQ(wxString(c.mapping), m_thread->ContentShortHandMapping()) << c.attributes;
    }
}

// A configuration change that drops a setting brings its default back.
TEST_F(SettingsTest, RemovedSettingsReturnToTheirDefaults) {
    Apply("systemIntegrityAllowOnChange=\"true\" systemIntegrityOnchangeBackoffMinMS=\"1\" "
          "systemIntegrityOnchangeBackoffMaxMS=\"2\" systemIntegrityFreeMbMin=\"3\" systemIntegrityCPULimit=\"4\" "
          "systemIntegrityEventMode=\"2\" contentShortHandMapping=\"md5\"");
    ASSERT_TRUE(m_thread->AllowOnChange());
    ASSERT_EQ(2, GetEventMode());
    Apply("");
    EXPECT_FALSE(m_thread->AllowOnChange());
    EXPECT_EQ(5000, m_thread->OnChangeBackoffMin());
    EXPECT_EQ(30000, m_thread->OnChangeBackoffMax());
    EXPECT_EQ(5, m_thread->FreeMbMin());
    EXPECT_EQ(100, m_thread->CpuLimit());
    EXPECT_EQ(1, GetEventMode());
    EXPECT_EQ(wxString("sha1"), m_thread->ContentShortHandMapping());
}

// Before any settings were read: members as constructed, event mode 0.
TEST_F(SettingsTest, InitialValuesBeforeSettingsAreRead) {
    EXPECT_TRUE(m_thread->AllowOnChange());
    EXPECT_EQ(5000, m_thread->OnChangeBackoffMin());
    EXPECT_EQ(30000, m_thread->OnChangeBackoffMax());
    EXPECT_EQ(5, m_thread->FreeMbMin());
    EXPECT_EQ(100, m_thread->CpuLimit());
    EXPECT_EQ(wxString("sha1"), m_thread->ContentShortHandMapping());
    // The event mode is process-wide: look at it in a process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(GetEventMode()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
