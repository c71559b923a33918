#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/Conditions.h"
#include "core/StateStore.h"

using KvoCore::CConditions;
using KvoCore::CStateStore;

TEST(StateStore, ValueIsFoundOnlyAsItsOwnType) {
    CStateStore store;
    store.Set("flag", true);
    store.Set("count", 42LL);
    store.Set("path", std::string("/var/lib"));
    bool b = false;
    long long n = 0;
    std::string s;
    EXPECT_TRUE(store.Get("flag", b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(store.Get("flag", n));
    EXPECT_FALSE(store.Get("count", b));
    EXPECT_TRUE(store.Get("count", n));
    EXPECT_EQ(42, n);
    EXPECT_FALSE(store.Get("path", n));
    EXPECT_TRUE(store.Get("path", s));
    EXPECT_EQ("/var/lib", s);
    store.SetNil("path");
    EXPECT_FALSE(store.Get("path", s));
    EXPECT_FALSE(store.Has("path"));
}

TEST(StateStore, SetFromTextChoosesTheType) {
    struct Case {
        const char* text;
        int type;  // 0 bool, 1 integer, 2 string
    } cases[] = {{"true", 0}, {"false", 0}, {"17", 1}, {"-3", 1}, {"+8", 1}, {"", 2}, {"True", 2},
                 {"1.5", 2},  {"12ab", 2}, {"-", 2},  {"99999999999999999999", 2}};
    for (const Case& c : cases) {
        CStateStore store;
        store.SetFromText("k", c.text);
        bool b;
        long long n;
        std::string s;
        EXPECT_EQ(c.type == 0, store.Get("k", b)) << c.text;
        EXPECT_EQ(c.type == 1, store.Get("k", n)) << c.text;
        EXPECT_EQ(c.type == 2, store.Get("k", s)) << c.text;
    }
}

TEST(StateStore, TestAndSetHandsTheFlagToExactlyOneThread) {
    for (int round = 0; round < 50; ++round) {
        CStateStore store;
        std::atomic<int> winners{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                if (!store.TestAndSet("busy", true)) ++winners;
            });
        for (auto& t : threads) t.join();
        EXPECT_EQ(1, winners.load());
    }
}

TEST(StateStore, ConcurrentWritersAndReadersSeeWholeValues) {
    CStateStore store;
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w)
        threads.emplace_back([&, w] {
            std::string value(100 + w, static_cast<char>('a' + w));
            for (int i = 0; i < 2000; ++i) store.Set("shared", value);
        });
    threads.emplace_back([&] {
        for (int i = 0; i < 8000; ++i) {
            std::string s;
            if (store.Get("shared", s) && (s.size() < 100 || s.size() > 103 ||
                                           s.find_first_not_of(s[0]) != std::string::npos))
                torn = true;
        }
    });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(torn.load());
}

TEST(Conditions, RaiseCountsAreExactUnderConcurrency) {
    CConditions conditions;
    long long count = -1;
    EXPECT_FALSE(conditions.Query("app.configUpdated", count));
    conditions.Register("app.configUpdated");
    EXPECT_TRUE(conditions.Query("app.configUpdated", count));
    EXPECT_EQ(0, count);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) conditions.Raise("app.configUpdated");
        });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(conditions.Query("app.configUpdated", count));
    EXPECT_EQ(4000, count);
    conditions.Register("app.configUpdated");
    EXPECT_TRUE(conditions.Query("app.configUpdated", count));
    EXPECT_EQ(4000, count) << "registering again must keep the count";
}

TEST(Conditions, WaitEndsWhenRaisedOrTimedOut) {
    CConditions conditions;
    long long count = 0;
    EXPECT_FALSE(conditions.WaitAbove("c", 0, 20, count));
    std::thread raiser([&] { conditions.Raise("c"); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(conditions.WaitAbove("c", 0, 30000, count));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(1, count);
    raiser.join();
    std::atomic<bool> abort{false};
    std::thread aborter([&] {
        abort = true;
        conditions.WakeAll();
    });
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(conditions.WaitAbove("c", 1, 30000, count, [&] { return abort.load(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    aborter.join();
}
