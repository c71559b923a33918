// CSystemIntegrityOnChangeThreadUnix: the legacy real-time thread of this
// platform. It watches no files (the agent's engine does that where it runs),
// so it reports process starts and ends and keeps the cache moving.
#pragma once

#include "plugins/im/SystemIntegrityOnChangeThreadLegacy.h"

namespace KvoPluginIm {

class CSystemIntegrityOnChangeThreadUnix : public CSystemIntegrityOnChangeThreadLegacy {
public:
    CSystemIntegrityOnChangeThreadUnix(KvoCore::CDom& dom, int settleTimeMs, int maxDelayMs)
        : CSystemIntegrityOnChangeThreadLegacy(dom, settleTimeMs, maxDelayMs) {}

    void OnMainLoopSleep(unsigned int ms) override;
    void StartMonitoring(const CEntitySetInfoPtrList& sets) override;
};

}  // namespace KvoPluginIm
