#include "agent/ConfigReloader.h"
#include "core/StateKeys.h"

namespace KvoAgent {

CConfigReloader::CConfigReloader(KvoCore::CDom& dom) : CRunnable("config-reloader", &dom), m_dom(dom) {}

void CConfigReloader::OnRun() {
    m_dom.ConditionRegister(KvoCore::Keys::kConfigReload);
    m_dom.ConditionRegister(KvoCore::Keys::kConfigUpdated);
    long long seen = 0;
    m_dom.ConditionQuery(KvoCore::Keys::kConfigReload, seen);
    while (!TestDestroy()) {
        long long count = seen;
        if (!m_dom.ConditionWait(KvoCore::Keys::kConfigReload, seen, 60000, count)) continue;
        seen = count;
        wxString error;
        if (m_dom.ConfigReload(error)) KvoCore::LogInfo("configuration reloaded");
    }
}

}  // namespace KvoAgent
