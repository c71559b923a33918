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
    // Messages are kept in order per queue; after Shutdown they are dropped.
    void Enqueue(const std::string& queue, const std::string& data);
    // Waits up to timeoutMs (0xFFFFFFFF: no limit) for a message. Returns false
    // on time-out, on a Wake of the queue, or on Shutdown. A pending wake-up is
    // served before queued messages.
    bool Dequeue(const std::string& queue, unsigned int timeoutMs, std::string& data);
    // Ends the current waits on the queue without data; with nobody waiting,
    // the next Dequeue on it ends so instead (wake-ups are counted).
    void Wake(const std::string& queue);
    // Ends every wait, now and later.
    void Shutdown();
    // How many Dequeue calls wait on the queue now (status, tests).
    unsigned int Waiters(const std::string& queue);

    static constexpr unsigned int kNoTimeLimit = 0xFFFFFFFFu;

private:
    struct Queue {
        std::deque<std::string> messages;
        std::condition_variable changed;
        unsigned long long pendingWakeups = 0;  // arrived while nobody waited
        unsigned long long wakeRound = 0;       // advanced by a Wake that ends waits
        unsigned int waiters = 0;
    };
    std::mutex m_lock;
    std::map<std::string, Queue> m_queues;  // nodes stay put: waiters keep references
    bool m_shutdown = false;
};

}  // namespace KvoCore
