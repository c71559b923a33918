#include <gtest/gtest.h>

#include <stdexcept>

#include <wx/thread.h>

#include "plugins/im/SystemIntegrityThread.h"

using KvoPluginIm::CSystemIntegrityThread;

namespace {


// A host program that never made its agent gets an exception, not a crash.
TEST(ControlThreadWithoutAgent, ConstructionFailsLoudly) {
    ASSERT_EQ(nullptr, KvoCore::CDom::This());
    EXPECT_THROW(CSystemIntegrityThread(), std::runtime_error);
}

}  // namespace
