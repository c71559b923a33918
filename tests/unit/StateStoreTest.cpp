#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/Conditions.h"
#include "core/StateStore.h"

using KvoCore::CConditions;
using KvoCore::CStateStore;

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
