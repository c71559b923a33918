#include "agent/RealtimeQueue.h"

#include <chrono>

namespace KvoAgent {

bool CRealtimeQueue::Push(CRealtimeNotification&& notification) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_items.empty() && notification.operationType == "update" && m_items.back().SameChange(notification))
            return true;
        if (m_items.size() >= m_capacity) return false;
        m_items.push_back(std::move(notification));
    }
    m_ready.notify_one();
    return true;
}

bool CRealtimeQueue::Pop(CRealtimeNotification& notification, unsigned int ms) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_ready.wait_for(guard, std::chrono::milliseconds(ms), [this] { return !m_items.empty(); }))
        return false;
    notification = std::move(m_items.front());
    m_items.pop_front();
    return true;
}

size_t CRealtimeQueue::Size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_items.size();
}

}  // namespace KvoAgent
