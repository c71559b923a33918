// CMessageBus: named in-process queues of text messages. Thread-safe.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace KvoCore {

class CMessageBus {
public:
    void Enqueue(const std::string& queue, const std::string& data);
    // Waits up to timeoutMs (0xFFFFFFFF: no limit) for a message. Returns false
    // on time-out, on a Wake of the queue, or on Shutdown.
    bool Dequeue(const std::string& queue, unsigned int timeoutMs, std::string& data);
    // Ends the current waits on the queue without data.
    void Wake(const std::string& queue);
    // Ends every wait, now and later.
    void Shutdown();

private:
    struct Queue {
        std::deque<std::string> messages;
        unsigned long long wakeups = 0;
    };
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<std::string, Queue> m_queues;
    bool m_shutdown = false;
};

}  // namespace KvoCore
