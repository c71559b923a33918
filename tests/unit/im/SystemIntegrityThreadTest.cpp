#include <gtest/gtest.h>

#include <stdexcept>

#include <wx/thread.h>

#include "plugins/im/SystemIntegrityThread.h"
#include "tests/unit/im/ControlThreadFixture.h"

using KvoPluginIm::CSystemIntegrityThread;

namespace {

using ConstructionTest = KvoTest::ControlThreadFixture;

// A host program that never made its agent gets an exception, not a crash.
TEST(ControlThreadWithoutAgent, ConstructionFailsLoudly) {
    ASSERT_EQ(nullptr, KvoCore::CDom::This());
    EXPECT_THROW(CSystemIntegrityThread(), std::runtime_error);
}

TEST_F(ConstructionTest, RunningLimitIsCpusTimesThreadsPerCpu) {
    const long long cpus = wxThread::GetCPUCount() > 0 ? wxThread::GetCPUCount() : 1;
    const char* const key = "zel.im.SystemIntegrity.ThreadsPerCpu";
    const struct {
        const char* label;
        void (*set)(KvoCore::CDom&, const char*);
        long long limit;
    } cases[] = {
        {"absent", [](KvoCore::CDom& dom, const char* k) { dom.SetNil(k); }, 1},
        {"2", [](KvoCore::CDom& dom, const char* k) { dom.Set(k, 2LL); }, 2 * cpus},
        {"1", [](KvoCore::CDom& dom, const char* k) { dom.Set(k, 1LL); }, cpus},
        {"0", [](KvoCore::CDom& dom, const char* k) { dom.Set(k, 0LL); }, 1},
        {"a string", [](KvoCore::CDom& dom, const char* k) { dom.Set(k, "2"); }, 1},
        {"a bool", [](KvoCore::CDom& dom, const char* k) { dom.Set(k, true); }, 1},
    };
    for (const auto& c : cases) {
        c.set(*m_dom, key);
        CSystemIntegrityThread thread;
        EXPECT_EQ(c.limit, thread.ScannersRunningLimit()) << c.label;
    }
}

TEST_F(ConstructionTest, VmSafeGuestFlagFromTheAgentAtConstruction) {
    {
        CSystemIntegrityThread thread;
        EXPECT_FALSE(thread.IsVmSafeGuest()) << "absent";
    }
    m_dom->Set("kvo.mode.vmsafeGuest", true);
    CSystemIntegrityThread guest;
    EXPECT_TRUE(guest.IsVmSafeGuest());
    m_dom->Set("kvo.mode.vmsafeGuest", false);
    EXPECT_TRUE(guest.IsVmSafeGuest()) << "read once, when constructed";
    CSystemIntegrityThread host;
    EXPECT_FALSE(host.IsVmSafeGuest());
}

}  // namespace
