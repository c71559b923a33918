// CSignalWatcher: turns the process's signals into agent requests on a thread
// of its own, so that no signal ever interrupts a write in progress.
// SIGINT and SIGTERM request the agent's stop; SIGHUP raises "app.configReload".
// Block() must run in the main thread before any other thread starts.
#pragma once

#include <pthread.h>

#include <thread>

#include "core/Dom.h"

namespace KvoAgent {

class CSignalWatcher {
public:
    // Blocks the handled signals in the calling thread and every thread it starts later.
    static void Block();

    explicit CSignalWatcher(KvoCore::CDom& dom);
    ~CSignalWatcher();
    CSignalWatcher(const CSignalWatcher&) = delete;
    CSignalWatcher& operator=(const CSignalWatcher&) = delete;

private:
    void Run();

    KvoCore::CDom m_dom;
    std::thread m_thread;
};

}  // namespace KvoAgent
