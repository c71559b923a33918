#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/Conditions.h"
#include "core/StateStore.h"

using KvoCore::CConditions;
using KvoCore::CStateStore;

// A value is found only as the type it was given.
TEST(StateStore, SetFromTextChoosesTheType) {
    struct Case {
        const char* text;
        int type;  // 0 bool, 1 integer, 2 string
    } cases[] = {{"false", 0}, {"-3", 1}, {"+8", 1}, {"", 2}, {"True", 2},
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

