// The platform test of the rule model, with and without an agent object.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

#include "plugins/im/HostPlatform.h"
#include "tests/unit/im/RuleTestSupport.h"

using KvoPluginIm::IsLinuxHost;
using KvoPluginIm::IsWindowsHost;
using KvoPluginIm::PlatformText;

namespace KvoTest {
namespace {

struct PlatformCase {
    const char* what;
    int forced;
    int agent;  // -1 no agent, 0 agent on Linux, 1 agent on Windows
    bool windows;
    bool linux;
    const char* bothTexts;  // PlatformText("win", "lin")
    const char* linuxOnly;  // PlatformText("", "lin")
};

std::ostream& operator<<(std::ostream& out, const PlatformCase& row) { return out << row.what; }

class PlatformTest : public ::testing::TestWithParam<PlatformCase> {
protected:
    void TearDown() override { KvoPluginIm::SetForcePlatform(0); }
};

TEST_P(PlatformTest, DecidesTheTextPieces) {
    const PlatformCase& row = GetParam();
    std::unique_ptr<ScopedAgent> agent;
    if (row.agent >= 0) agent = std::make_unique<ScopedAgent>(row.agent == 1);
    KvoPluginIm::SetForcePlatform(row.forced);
    EXPECT_EQ(row.windows, IsWindowsHost());
    EXPECT_EQ(row.linux, IsLinuxHost());
    EXPECT_EQ(row.bothTexts, Text(PlatformText(wxT("win"), wxT("lin"))));
    EXPECT_EQ(row.linuxOnly, Text(PlatformText(wxString(), wxT("lin"))));
    EXPECT_EQ("", Text(PlatformText(wxString(), wxString())));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlatformTest,
    ::testing::Values(PlatformCase{"no agent, nothing forced", 0, -1, false, true, "lin", "lin"},
                      PlatformCase{"no agent, Windows forced", 1, -1, true, false, "win", ""},
                      PlatformCase{"agent on Linux", 0, 0, false, true, "lin", "lin"},
                      PlatformCase{"agent on Windows", 0, 1, true, false, "win", ""},
                      // Forcing wins for Windows, while the agent still answers for Linux.
                      PlatformCase{"agent on Linux, Windows forced", 1, 0, true, true, "win", "lin"}));

}  // namespace
}  // namespace KvoTest
