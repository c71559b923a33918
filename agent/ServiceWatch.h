// CServiceWatch: the running agent as systemd sees it. Ready once the control
// socket is up (it is before the agent's threads start) and the control thread
// has started its first scan (`run` always asks for one at its start); the watchdog is fed only while the control thread shows signs of life, so a
// control loop stuck in one place gets the service restarted.
#pragma once

#include "agent/ServiceNotifier.h"

namespace KvoCore {
class CDom;
class CRunnable;
}  // namespace KvoCore

namespace KvoAgent {

class CServiceWatch {
public:
    CServiceWatch(KvoCore::CDom& dom, const KvoCore::CRunnable& control);
    // Called by the host's loop a few times a second.
    void Poll();
    void Stopping();

private:
    bool FirstScanStarted();

    KvoCore::CDom& m_dom;
    const KvoCore::CRunnable& m_control;
    CServiceNotifier m_notifier;
    bool m_ready = false;
    bool m_quietReported = false;
};

}  // namespace KvoAgent
