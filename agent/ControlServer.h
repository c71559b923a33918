// CControlServer: the control socket of `kvo-agent run`, <workdir>/kvo-agent.sock
// (mode 0600). Each connection is a CControlSession on a thread of its own,
// so that a person's `status` is answered while another's `check` waits for
// its scan. Only the holder of the work-directory lock may serve it: a
// socket file found there was left by a dead agent and is replaced.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include "agent/ControlSession.h"
#include "core/Dom.h"
#include "core/Runnable.h"

namespace KvoAgent {

class CControlServer : public KvoCore::CRunnable {
public:
    // Relative to the work directory, where the agent runs.
    static const char* const s_SocketName;

    // wakeAgent wakes the agent's control thread, for the scans asked of it.
    CControlServer(KvoCore::CDom& dom, std::string scriptDir, std::function<void()> wakeAgent);
    ~CControlServer() override;

    // Before start(): false with the reason in error when the socket cannot be served.
    bool Listen(std::string& error);
    void OnRun() override;

private:
    void Accept();
    // Joins the sessions that have ended, or all of them.
    void Reap(bool all);

    KvoCore::CDom m_dom;
    const std::string m_scriptDir;
    const std::function<void()> m_wakeAgent;
    int m_fd = -1;
    std::list<std::unique_ptr<CControlSession>> m_sessions;
};

}  // namespace KvoAgent
