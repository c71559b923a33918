// CConditions: named raise counters that threads can wait on. Thread-safe.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace KvoCore {

class CConditions {
public:
    // Registering an existing name keeps its count.
    void Register(const std::string& name);
    // Adds one to the count and wakes the waiters; registers an unknown name.
    void Raise(const std::string& name);
    // False when the name was never registered or raised.
    bool Query(const std::string& name, long long& count) const;
    // Waits until the count exceeds lastSeen, timeoutMs passes or abort()
    // holds after a WakeAll; returns whether the count exceeds lastSeen, with
    // the current count in count.
    bool WaitAbove(const std::string& name, long long lastSeen, unsigned int timeoutMs, long long& count,
                   const std::function<bool()>& abort = {});
    // Makes every waiter re-check its abort test.
    void WakeAll();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<std::string, long long> m_counts;
};

}  // namespace KvoCore
