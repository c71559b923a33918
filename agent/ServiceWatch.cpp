#include "agent/ServiceWatch.h"

#include <wx/string.h>

#include "agent/PluginKeys.h"
#include "core/Dom.h"
#include "core/Log.h"
#include "core/Runnable.h"

namespace KvoAgent {

CServiceWatch::CServiceWatch(KvoCore::CDom& dom, const KvoCore::CRunnable& control)
    : m_dom(dom), m_control(control) {
    m_dom.ConditionRegister(PluginKeys::kScanInitiated);
}

bool CServiceWatch::FirstScanStarted() {
    long long scans = 0;
    return m_dom.ConditionQuery(PluginKeys::kScanInitiated, scans) && scans > 0;
}

void CServiceWatch::Poll() {
    if (!m_notifier.Active()) return;
    if (!m_ready && FirstScanStarted()) {
        m_notifier.Ready("monitoring");
        m_ready = true;
    }
    const long long interval = m_notifier.WatchdogIntervalMs();
    if (interval == 0) return;
    if (m_control.AliveWithin(interval / 2)) {
        m_notifier.PingWatchdog();
        m_quietReported = false;
    } else if (!m_quietReported) {
        KvoCore::LogWarning(wxString::Format("the integrity control thread has shown no sign of life for %lld s; "
                                             "the service's watchdog will restart the agent unless it recovers",
                                             interval / 2000));
        m_quietReported = true;
    }
}

void CServiceWatch::Stopping() { m_notifier.Stopping(); }

}  // namespace KvoAgent
