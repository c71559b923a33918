// CRealtimeQueue: the bounded queue between the engine's thread and the Lua
// loop. A push into a full queue is refused (the caller accounts for it, so
// nothing is dropped unseen); an update equal to the newest waiting one is
// absorbed, since the on-change object would coalesce it anyway. Thread-safe.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "agent/RealtimeNotification.h"

namespace KvoAgent {

class CRealtimeQueue {
public:
    explicit CRealtimeQueue(size_t capacity) : m_capacity(capacity < 1 ? 1 : capacity) {}

    // False when the queue is full and the notification was not taken.
    bool Push(CRealtimeNotification&& notification);
    // Waits at most ms for a notification; false when none came.
    bool Pop(CRealtimeNotification& notification, unsigned int ms);
    size_t Size() const;

private:
    const size_t m_capacity;
    mutable std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<CRealtimeNotification> m_items;
};

}  // namespace KvoAgent
