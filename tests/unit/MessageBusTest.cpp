// The message bus: order, independence of queues, waits, wake-ups, shutdown,
// and many producers and consumers at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/MessageBus.h"

using namespace KvoCore;
using Clock = std::chrono::steady_clock;

namespace {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Waits for threads blocked without a time limit; should the bus fail to end
// their waits, release frees them so that the test fails instead of hanging.
void JoinAll(std::vector<std::thread>& threads, const std::function<bool()>& ended,
             const std::function<void()>& release) {
    bool inTime = WaitUntil(ended);
    if (!inTime) release();
    for (auto& t : threads) t.join();
    EXPECT_TRUE(inTime);
}

}  // namespace

TEST(MessageBusQueues, FifoPerQueueAndQueuesAreIndependent) {
    CMessageBus bus;
    bus.Enqueue("a", "a1");
    bus.Enqueue("b", "b1");
    bus.Enqueue("a", "a2");
    bus.Enqueue("a", "");
    bus.Enqueue("a", std::string("x\0y", 3));

    std::string data;
    ASSERT_TRUE(bus.Dequeue("b", 0, data));
    EXPECT_EQ(data, "b1");
    EXPECT_FALSE(bus.Dequeue("b", 0, data));
    for (const std::string& expected : {std::string("a1"), std::string("a2"), std::string(),
                                        std::string("x\0y", 3)}) {
        ASSERT_TRUE(bus.Dequeue("a", 0, data));
        EXPECT_EQ(data, expected);
    }
    data = "untouched";
    EXPECT_FALSE(bus.Dequeue("a", 0, data));
    EXPECT_EQ(data, "untouched");
    EXPECT_FALSE(bus.Dequeue("never used", 0, data));
}

TEST(MessageBusQueues, DequeueTimesOutAndBlockingDequeueGetsALaterMessage) {
    CMessageBus bus;
    std::string data;
    auto begin = Clock::now();
    EXPECT_FALSE(bus.Dequeue("q", 150, data));
    double waited = Seconds(Clock::now() - begin);
    EXPECT_GE(waited, 0.14);
    EXPECT_LT(waited, 5.0);

    std::atomic<bool> got{false}, ended{false};
    std::string received;
    std::vector<std::thread> consumer;
    consumer.emplace_back([&] {
        got = bus.Dequeue("q", CMessageBus::kNoTimeLimit, received);
        ended = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return bus.Waiters("q") == 1; }));
    bus.Enqueue("other", "not for q");
    bus.Enqueue("q", "late");
    JoinAll(consumer, [&] { return ended.load(); }, [&] { bus.Shutdown(); });
    EXPECT_TRUE(got);
    EXPECT_EQ(received, "late");
    ASSERT_TRUE(bus.Dequeue("other", 0, data));
    EXPECT_EQ(data, "not for q");
}

TEST(MessageBusWake, WakeEndsEveryCurrentWaitAndLeavesNothingBehind) {
    CMessageBus bus;
    std::atomic<int> ended{0}, gotData{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            std::string data;
            if (bus.Dequeue("q", CMessageBus::kNoTimeLimit, data)) ++gotData;
            ++ended;
        });
    std::vector<std::thread> elsewhere;
    elsewhere.emplace_back([&] {
        std::string data;
        if (bus.Dequeue("other", CMessageBus::kNoTimeLimit, data)) ++gotData;
        ++ended;
    });
    EXPECT_TRUE(WaitUntil([&] { return bus.Waiters("q") == 3 && bus.Waiters("other") == 1; }));
    bus.Wake("q");
    JoinAll(waiters, [&] { return ended == 3; }, [&] { bus.Shutdown(); });
    EXPECT_EQ(ended.load(), 3);
    EXPECT_EQ(gotData.load(), 0);
    // The waiter of another queue slept on, and no wake-up is left for later.
    EXPECT_EQ(bus.Waiters("other"), 1u);
    bus.Enqueue("q", "after");
    std::string data;
    EXPECT_TRUE(bus.Dequeue("q", 0, data));
    EXPECT_EQ(data, "after");

    bus.Enqueue("other", "for the last waiter");
    JoinAll(elsewhere, [&] { return ended == 4; }, [&] { bus.Shutdown(); });
    EXPECT_EQ(gotData.load(), 1);
}

TEST(MessageBusWake, WakeWithNobodyWaitingEndsTheNextDequeues) {
    CMessageBus bus;
    bus.Wake("q");
    bus.Wake("q");
    bus.Enqueue("q", "m");
    std::string data = "untouched";
    auto begin = Clock::now();
    EXPECT_FALSE(bus.Dequeue("q", 30000, data));
    EXPECT_FALSE(bus.Dequeue("q", 30000, data));
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0);
    EXPECT_EQ(data, "untouched");
    // The message waited behind the wake-ups, and other queues never saw them.
    ASSERT_TRUE(bus.Dequeue("q", 0, data));
    EXPECT_EQ(data, "m");
    bus.Enqueue("other", "o");
    ASSERT_TRUE(bus.Dequeue("other", 0, data));
    EXPECT_EQ(data, "o");
}

TEST(MessageBusWake, ShutdownEndsWaitsNowAndLater) {
    CMessageBus bus;
    std::atomic<int> ended{0};
    std::vector<std::thread> waiters;
    for (const char* queue : {"a", "b"})
        waiters.emplace_back([&bus, &ended, queue] {
            std::string data;
            if (!bus.Dequeue(queue, CMessageBus::kNoTimeLimit, data)) ++ended;
        });
    bus.Enqueue("c", "dropped");
    EXPECT_TRUE(WaitUntil([&] { return bus.Waiters("a") == 1 && bus.Waiters("b") == 1; }));
    bus.Shutdown();
    JoinAll(waiters, [&] { return ended == 2; }, [&] {
        bus.Wake("a");
        bus.Wake("b");
    });
    EXPECT_EQ(ended.load(), 2);

    std::string data;
    auto begin = Clock::now();
    EXPECT_FALSE(bus.Dequeue("c", 30000, data));
    bus.Enqueue("a", "late");
    EXPECT_FALSE(bus.Dequeue("a", 30000, data));
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0);
}

TEST(MessageBusConcurrency, ManyProducersAndConsumersLoseAndDuplicateNothing) {
    CMessageBus bus;
    const int producers = 4, consumers = 4, perProducer = 5000;
    std::vector<std::vector<std::string>> received(consumers);
    std::vector<std::thread> threads;
    for (int c = 0; c < consumers; ++c)
        threads.emplace_back([&, c] {
            std::string data;
            // A lost end marker shows as a failed wait, not as a hang.
            while (bus.Dequeue("work", 30000, data) && data != "end") received[c].push_back(data);
        });
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i)
                bus.Enqueue("work", std::to_string(p) + ":" + std::to_string(i));
        });
    for (int p = 0; p < producers; ++p) threads[consumers + p].join();
    for (int c = 0; c < consumers; ++c) bus.Enqueue("work", "end");
    for (int c = 0; c < consumers; ++c) threads[c].join();

    std::set<std::string> all;
    size_t total = 0;
    for (const auto& mine : received) {
        total += mine.size();
        all.insert(mine.begin(), mine.end());
        // Each consumer sees every producer's messages in the order they were sent.
        std::vector<int> last(producers, -1);
        for (const std::string& m : mine) {
            int p = std::stoi(m.substr(0, m.find(':')));
            int i = std::stoi(m.substr(m.find(':') + 1));
            EXPECT_GT(i, last[p]) << m;
            last[p] = i;
        }
    }
    EXPECT_EQ(total, size_t(producers * perProducer));
    EXPECT_EQ(all.size(), size_t(producers * perProducer));
    std::string data;
    EXPECT_FALSE(bus.Dequeue("work", 0, data));
}
