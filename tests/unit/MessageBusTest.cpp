// The message bus: order, independence of queues, waits, wake-ups, shutdown,
// and many producers and consumers at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/MessageBus.h"
#include "tests/unit/WaitUntil.h"

using namespace KvoCore;
using Clock = std::chrono::steady_clock;
using KvoTest::WaitUntil;

namespace {
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
}  // namespace

TEST(MessageBus, FifoPerQueueAndABlockingDequeueGetsALaterMessage) {
    CMessageBus bus;
    bus.Enqueue("a", "a1");
    bus.Enqueue("b", "b1");
    bus.Enqueue("a", "");
    bus.Enqueue("a", std::string("x\0y", 3));
    std::string data;
    for (const auto& [queue, expected] : {std::pair<const char*, std::string>{"b", "b1"}, {"a", "a1"}, {"a", ""},
                                          {"a", std::string("x\0y", 3)}}) {
        ASSERT_TRUE(bus.Dequeue(queue, 0, data));
        EXPECT_EQ(data, expected);
    }
    const auto begin = Clock::now();
    EXPECT_FALSE(bus.Dequeue("a", 150, data));
    EXPECT_GE(Seconds(Clock::now() - begin), 0.14);

    std::atomic<bool> got{false};
    std::string received;
    std::thread consumer([&] { got = bus.Dequeue("q", CMessageBus::kNoTimeLimit, received); });
    EXPECT_TRUE(WaitUntil([&] { return bus.Waiters("q") == 1; }));
    bus.Enqueue("other", "not for q");
    bus.Enqueue("q", "late");
    if (!WaitUntil([&] { return got.load(); })) bus.Shutdown();  // fails instead of hanging
    consumer.join();
    EXPECT_TRUE(got);
    EXPECT_EQ(received, "late");
}

TEST(MessageBus, WakeEndsEveryCurrentWaitOrTheNextOneOfThatQueueOnly) {
    CMessageBus bus;
    std::atomic<int> ended{0}, gotData{0};
    std::vector<std::thread> waiters;
    for (const char* queue : {"q", "q", "other"})
        waiters.emplace_back([&, queue] {
            std::string data;
            gotData += bus.Dequeue(queue, CMessageBus::kNoTimeLimit, data);
            ++ended;
        });
    EXPECT_TRUE(WaitUntil([&] { return bus.Waiters("q") == 2 && bus.Waiters("other") == 1; }));
    bus.Wake("q");
    EXPECT_TRUE(WaitUntil([&] { return ended == 2; }));
    EXPECT_EQ(bus.Waiters("other") * 10 + gotData, 10u) << "the waiter of another queue sleeps on";
    bus.Enqueue("other", "for the last waiter");
    if (!WaitUntil([&] { return ended == 3; })) bus.Shutdown();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(gotData.load(), 1);

    // With nobody waiting, a wake-up ends the next dequeue; the message waits behind it.
    bus.Wake("q");
    bus.Enqueue("q", "m");
    std::string data = "untouched";
    EXPECT_FALSE(bus.Dequeue("q", 30000, data));
    EXPECT_TRUE(bus.Dequeue("q", 0, data) && data == "m") << data;
}

TEST(MessageBus, ShutdownEndsWaitsNowAndLater) {
    CMessageBus bus;
    std::atomic<int> ended{0};
    std::thread waiter([&] {
        std::string data;
        if (!bus.Dequeue("a", CMessageBus::kNoTimeLimit, data)) ++ended;
    });
    bus.Enqueue("c", "dropped");
    EXPECT_TRUE(WaitUntil([&] { return bus.Waiters("a") == 1; }));
    bus.Shutdown();
    if (!WaitUntil([&] { return ended == 1; })) bus.Wake("a");
    waiter.join();
    EXPECT_EQ(ended.load(), 1);
    std::string data;
    const auto begin = Clock::now();
    EXPECT_FALSE(bus.Dequeue("c", 30000, data));
    bus.Enqueue("a", "late");
    EXPECT_FALSE(bus.Dequeue("a", 30000, data));
    EXPECT_LT(Seconds(Clock::now() - begin), 5.0);
}

TEST(MessageBus, ManyProducersAndConsumersLoseAndDuplicateNothing) {
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
            for (int i = 0; i < perProducer; ++i) bus.Enqueue("work", std::to_string(p) + ":" + std::to_string(i));
        });
    for (int p = 0; p < producers; ++p) threads[consumers + p].join();
    for (int c = 0; c < consumers; ++c) bus.Enqueue("work", "end");
    for (int c = 0; c < consumers; ++c) threads[c].join();

    std::set<std::string> all;
    for (const auto& mine : received) {
        // Each consumer sees every producer's messages in the order they were sent.
        std::vector<int> last(producers, -1);
        for (const std::string& m : mine) {
            const int p = std::stoi(m), i = std::stoi(m.substr(m.find(':') + 1));
            EXPECT_GT(i, last[p]) << m;
            last[p] = i;
            EXPECT_TRUE(all.insert(m).second) << "twice: " << m;
        }
    }
    EXPECT_EQ(all.size(), size_t(producers * perProducer));
}
