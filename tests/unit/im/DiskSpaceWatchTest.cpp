// The control loop's disk-space watch with the tick and the free space given:
// how often it measures, when scanning is suspended and resumed, and that the
// warning is given once per minimum.
#include <gtest/gtest.h>

#include <vector>

#include "plugins/im/DiskSpaceWatch.h"

namespace {

using KvoPluginIm::CDiskSpaceWatch;
using Outcome = CDiskSpaceWatch::Outcome;

const unsigned long long kMb = 1ULL << 20;

class DiskSpaceWatchTest : public ::testing::Test {
protected:
    CDiskSpaceWatch::Result Check(CDiskSpaceWatch& watch, unsigned int now, unsigned long long freeMb, int minimumMb) {
        ++m_calls[0];
        return watch.Check(now, "/work", minimumMb, [this, freeMb](const wxString& path, unsigned long long& bytes) {
            EXPECT_EQ("/work", path);
            ++m_calls[1];
            bytes = freeMb * kMb + kMb / 2;
            return true;
        });
    }
    int Measured() const { return m_calls[1]; }

    int m_warnedMb = 0;
    int m_calls[2] = {0, 0};
};

TEST_F(DiskSpaceWatchTest, MeasuresAtOnceThenAtMostEveryThirtySeconds) {
    const unsigned int start = 0xFFFF0000u;  // the tick wraps during the test
    CDiskSpaceWatch watch(start, m_warnedMb);
    EXPECT_EQ(Outcome::Enough, Check(watch, start, 100, 5).outcome);
    EXPECT_EQ(Outcome::NotMeasured, Check(watch, start + 29999u, 100, 5).outcome);
    EXPECT_EQ(Outcome::Enough, Check(watch, start + 30000u, 100, 5).outcome);
    EXPECT_EQ(2, Measured());
}

TEST_F(DiskSpaceWatchTest, LowSpaceSuspendsUntilItIsBack) {
    CDiskSpaceWatch watch(0, m_warnedMb);
    const struct {
        unsigned int now;
        unsigned long long freeMb;
        Outcome outcome;
        bool low;
    } steps[] = {
        {0, 4, Outcome::BecameLow, true},
        {10000, 9, Outcome::NotMeasured, true},  // still suspended until measured again
        {30000, 3, Outcome::StillLow, true},
        {30100, 3, Outcome::StillLow, true},  // while low, every iteration measures
        {30200, 5, Outcome::Recovered, false},
        {30300, 5, Outcome::NotMeasured, false},
        {60200, 5, Outcome::Enough, false},
    };
    for (const auto& step : steps) {
        const CDiskSpaceWatch::Result result = Check(watch, step.now, step.freeMb, 5);
        EXPECT_EQ(step.outcome, result.outcome) << "at " << step.now;
        EXPECT_EQ(step.low, watch.IsLow()) << "at " << step.now;
        if (result.outcome != Outcome::NotMeasured) {
            EXPECT_EQ(step.freeMb, result.freeMb) << "at " << step.now;
        }
    }
}

TEST_F(DiskSpaceWatchTest, WarningIsGivenOncePerMinimum) {
    CDiskSpaceWatch watch(0, m_warnedMb);
    const struct {
        unsigned int now;
        unsigned long long freeMb;
        int minimumMb;
        Outcome outcome;
        bool warn;
    } steps[] = {
        {0, 4, 5, Outcome::BecameLow, true},
        {30000, 3, 5, Outcome::StillLow, false},   // a later drop while low
        {30100, 3, 6, Outcome::StillLow, false},   // a new minimum while low
        {30200, 7, 6, Outcome::Recovered, false},
        {60200, 4, 6, Outcome::BecameLow, true},   // entered again with the new minimum
        {90200, 9, 6, Outcome::Recovered, false},
        {120200, 4, 6, Outcome::BecameLow, false},  // the same minimum again
    };
    for (const auto& step : steps) {
        const CDiskSpaceWatch::Result result = Check(watch, step.now, step.freeMb, step.minimumMb);
        EXPECT_EQ(step.outcome, result.outcome) << "at " << step.now;
        EXPECT_EQ(step.warn, result.warn) << "at " << step.now;
    }
    EXPECT_EQ(6, m_warnedMb);

    // The minimum warned of outlives the watch: a restarted loop stays quiet.
    CDiskSpaceWatch restarted(200000, m_warnedMb);
    const CDiskSpaceWatch::Result again = Check(restarted, 200000, 4, 6);
    EXPECT_EQ(Outcome::BecameLow, again.outcome);
    EXPECT_FALSE(again.warn);
}

TEST_F(DiskSpaceWatchTest, UnknownFreeSpaceChangesNothing) {
    CDiskSpaceWatch watch(0, m_warnedMb);
    ASSERT_EQ(Outcome::BecameLow, Check(watch, 0, 1, 5).outcome);
    const auto failing = [](const wxString&, unsigned long long&) { return false; };
    EXPECT_EQ(Outcome::Unknown, watch.Check(30000, "/work", 5, failing).outcome);
    EXPECT_TRUE(watch.IsLow());
    EXPECT_EQ(Outcome::NotMeasured, watch.Check(30001, "/work", 5, failing).outcome)
        << "a failed measurement also waits 30 s";
}

TEST_F(DiskSpaceWatchTest, ZeroOrNegativeMinimumIsAlwaysMet) {
    for (int minimum : {0, -5}) {
        CDiskSpaceWatch watch(0, m_warnedMb);
        EXPECT_EQ(Outcome::Enough, Check(watch, 0, 0, minimum).outcome) << minimum;
    }
}

}  // namespace
