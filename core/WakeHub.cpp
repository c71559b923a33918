#include "core/WakeHub.h"

#include <chrono>

namespace KvoCore {

CWakeHub& CWakeHub::Instance() {
    static CWakeHub hub;
    return hub;
}

bool CWakeHub::WaitFor(unsigned int ms, const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (ready()) return true;
    if (ms == 0) return false;
    return m_changed.wait_for(guard, std::chrono::milliseconds(ms), ready);
}

void CWakeHub::NotifyAll() {
    // Taking the lock orders the notification after a sleeper's check of its
    // condition, so a wake-up between check and wait is never lost.
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_changed.notify_all();
}

}  // namespace KvoCore
