// ForcedPlatform: reads rules as on Windows (true) or Linux for one scope,
// through the forced platform value, which counts while no agent object exists.
#pragma once

#include "plugins/im/HostPlatform.h"

namespace KvoTest {

class ForcedPlatform {
public:
    explicit ForcedPlatform(bool windows) { KvoPluginIm::SetForcePlatform(windows ? 1 : 0); }
    ~ForcedPlatform() { KvoPluginIm::SetForcePlatform(0); }
    ForcedPlatform(const ForcedPlatform&) = delete;
    ForcedPlatform& operator=(const ForcedPlatform&) = delete;
};

}  // namespace KvoTest
