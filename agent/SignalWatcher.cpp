#include "agent/SignalWatcher.h"
#include "core/StateKeys.h"

#include <signal.h>

namespace KvoAgent {
namespace {

// SIGUSR2 only ends the watcher itself.
sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR2);
    return set;
}

}  // namespace

void CSignalWatcher::Block() {
    sigset_t set = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CSignalWatcher::CSignalWatcher(KvoCore::CDom& dom) : m_dom(dom), m_thread([this] { Run(); }) {}

CSignalWatcher::~CSignalWatcher() {
    pthread_kill(m_thread.native_handle(), SIGUSR2);
    m_thread.join();
}

void CSignalWatcher::Run() {
    sigset_t set = HandledSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        switch (signal) {
            case SIGINT:
            case SIGTERM:
                KvoCore::LogInfo(wxString::Format("signal %d: stopping the agent", signal));
                m_dom.RequestStop();
                break;
            case SIGHUP:
                m_dom.ConditionRaise(KvoCore::Keys::kConfigReload);
                break;
            case SIGUSR2:
                return;
        }
    }
}

}  // namespace KvoAgent
