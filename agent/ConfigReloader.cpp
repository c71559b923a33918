#include "agent/ConfigReloader.h"

namespace KvoAgent {

CConfigReloader::CConfigReloader(KvoCore::CDom& dom) : CRunnable("config-reloader", &dom), m_dom(dom) {}

void CConfigReloader::OnRun() {
    m_dom.ConditionRegister("app.configReload");
    m_dom.ConditionRegister("app.configUpdated");
    long long seen = 0;
    m_dom.ConditionQuery("app.configReload", seen);
    while (!TestDestroy()) {
        long long count = seen;
        if (!m_dom.ConditionWait("app.configReload", seen, 60000, count)) continue;
        seen = count;
        wxString error;
        if (m_dom.ConfigReload(error)) KvoCore::LogInfo("configuration reloaded");
    }
}

}  // namespace KvoAgent
