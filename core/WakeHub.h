// CWakeHub: the one place where agent threads sleep, so that a stop of the
// agent, a thread's stop request and a thread's wake-up all end a sleep at once.
// Process-wide; thread-safe.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace KvoCore {

class CWakeHub {
public:
    static CWakeHub& Instance();

    // Waits at most ms (0: no wait) until ready() holds; true when it does.
    // ready is evaluated under the hub's lock.
    bool WaitFor(unsigned int ms, const std::function<bool()>& ready);
    // Wakes every sleeper to re-check its condition; set the condition's state
    // first (atomics or state guarded by Lock()).
    void NotifyAll();
    std::mutex& Lock() { return m_lock; }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
};

}  // namespace KvoCore
