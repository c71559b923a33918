#include "core/MessageBus.h"

#include <chrono>

namespace KvoCore {

void CMessageBus::Enqueue(const std::string& queue, const std::string& data) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shutdown) return;  // nobody will read it any more
    Queue& q = m_queues[queue];
    q.messages.push_back(data);
    // One message, one consumer; a notified waiter that timed out meanwhile
    // still finds the message under the lock, so it is never stranded.
    q.changed.notify_one();
}

bool CMessageBus::Dequeue(const std::string& queue, unsigned int timeoutMs, std::string& data) {
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_shutdown) return false;
    Queue& q = m_queues[queue];
    // A wake-up goes before data: it tells the consumer to look at its own
    // state (a stop, say), which must not wait behind a busy queue.
    if (q.pendingWakeups > 0) {
        --q.pendingWakeups;
        return false;
    }
    if (q.messages.empty()) {
        if (timeoutMs == 0) return false;
        const unsigned long long round = q.wakeRound;
        auto ready = [&] { return m_shutdown || q.wakeRound != round || !q.messages.empty(); };
        ++q.waiters;
        if (timeoutMs == kNoTimeLimit)
            q.changed.wait(guard, ready);
        else
            q.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
        --q.waiters;
        if (m_shutdown || q.wakeRound != round || q.messages.empty()) return false;
    }
    data = std::move(q.messages.front());
    q.messages.pop_front();
    return true;
}

void CMessageBus::Wake(const std::string& queue) {
    std::lock_guard<std::mutex> guard(m_lock);
    Queue& q = m_queues[queue];
    if (q.waiters > 0) {
        ++q.wakeRound;
        q.changed.notify_all();
    } else {
        ++q.pendingWakeups;
    }
}

void CMessageBus::Shutdown() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_shutdown = true;
    for (auto& entry : m_queues) {
        entry.second.messages.clear();
        entry.second.changed.notify_all();
    }
}

unsigned int CMessageBus::Waiters(const std::string& queue) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_queues.find(queue);
    return found == m_queues.end() ? 0 : found->second.waiters;
}

}  // namespace KvoCore
