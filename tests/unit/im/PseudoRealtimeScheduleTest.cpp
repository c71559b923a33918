// When the next pseudo-real-time scan is due, with the tick and the last
// scan's duration given rather than waited for.
#include <gtest/gtest.h>

#include "plugins/im/PseudoRealtimeSchedule.h"

namespace {

using KvoPluginIm::CPseudoRealtimeSchedule;

// A loop that started long before the last scan ended, so the table applies.
const unsigned int kLoopStart = 1000;
const unsigned int kLastScan = 500000;

TEST(PseudoRealtimeScheduleTest, LongerScansWaitLonger) {
    const struct {
        long long durationMs;
        unsigned int intervalMs;
    } table[] = {
        {0, 10000},       {1000, 10000},    {1001, 15000},   {2500, 15000},   {2501, 20000},
        {3000, 20000},    {5000, 20000},    {5001, 30000},   {10000, 30000},  {10001, 60000},
        {20000, 60000},   {20001, 120000},  {30000, 120000}, {30001, 300000}, {45000, 300000},
        {60000, 300000},  {60001, 600000},  {3600000, 600000},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.intervalMs, CPseudoRealtimeSchedule::IntervalAfter(row.durationMs)) << row.durationMs;
        const auto before = CPseudoRealtimeSchedule::Decide(kLastScan + row.intervalMs - 1, kLoopStart, kLastScan,
                                                            row.durationMs);
        EXPECT_FALSE(before.due) << row.durationMs << " ms, 1 ms early";
        const auto at = CPseudoRealtimeSchedule::Decide(kLastScan + row.intervalMs, kLoopStart, kLastScan,
                                                        row.durationMs);
        EXPECT_TRUE(at.due) << row.durationMs << " ms, on time";
        // Only the three shortest intervals shorten the loop's sleep, to half the interval.
        EXPECT_EQ(row.intervalMs <= 20000 ? row.intervalMs / 2 : 0u, before.sleepMs) << row.durationMs;
    }
}

TEST(PseudoRealtimeScheduleTest, BeforeAnyScanSinceTheLoopStartedTheShortestIntervalApplies) {
    // The last scan ended before this loop started (a duration from another run of the loop).
    const unsigned int start = kLastScan + 1;
    EXPECT_FALSE(CPseudoRealtimeSchedule::Decide(kLastScan + 9999, start, kLastScan, 45000).due);
    const auto due = CPseudoRealtimeSchedule::Decide(kLastScan + 10000, start, kLastScan, 45000);
    EXPECT_TRUE(due.due);
}

TEST(PseudoRealtimeScheduleTest, TicksThatWrapAroundStillCount) {
    const unsigned int last = 0xFFFFF000u;  // 4096 ms before the 32-bit tick wraps
    const unsigned int start = last - 100000;
    EXPECT_FALSE(CPseudoRealtimeSchedule::Decide(last + 9999u, start, last, 500).due);
    EXPECT_TRUE(CPseudoRealtimeSchedule::Decide(last + 10000u, start, last, 500).due);
    // A loop start just after the wrap is later than a scan just before it.
    EXPECT_TRUE(CPseudoRealtimeSchedule::Decide(last + 10000u, last + 5000u, last, 45000).due);
}

}  // namespace
