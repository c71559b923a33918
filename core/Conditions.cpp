#include "core/Conditions.h"

#include <chrono>

namespace KvoCore {

void CConditions::Register(const std::string& name) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_counts.emplace(name, 0);
}

void CConditions::Raise(const std::string& name) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_counts[name];
    }
    m_changed.notify_all();
}

bool CConditions::Query(const std::string& name, long long& count) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_counts.find(name);
    if (it == m_counts.end()) return false;
    count = it->second;
    return true;
}

bool CConditions::WaitAbove(const std::string& name, long long lastSeen, unsigned int timeoutMs,
                            long long& count, const std::function<bool()>& abort) {
    std::unique_lock<std::mutex> guard(m_lock);
    auto above = [&] {
        auto it = m_counts.find(name);
        count = it == m_counts.end() ? 0 : it->second;
        return count > lastSeen;
    };
    m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                       [&] { return above() || (abort && abort()); });
    return above();
}

void CConditions::WakeAll() {
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_changed.notify_all();
}

}  // namespace KvoCore
