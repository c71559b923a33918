// CConfigReloader: an agent thread that reloads the configuration file each
// time the condition "app.configReload" is raised; a successful reload raises
// "app.configUpdated", a failed one keeps the configuration in force.
#pragma once

#include "core/Dom.h"
#include "core/Runnable.h"

namespace KvoAgent {

class CConfigReloader : public KvoCore::CRunnable {
public:
    explicit CConfigReloader(KvoCore::CDom& dom);
    void OnRun() override;

private:
    KvoCore::CDom m_dom;
};

}  // namespace KvoAgent
