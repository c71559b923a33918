#include "plugins/im/PseudoRealtimeSchedule.h"

#include <cstdint>

namespace KvoPluginIm {

namespace {

struct Step {
    long long maxDurationMs;
    unsigned int intervalMs;
};

const Step kIntervals[] = {
    {1000, 10000}, {2500, 15000}, {5000, 20000}, {10000, 30000}, {20000, 60000}, {30000, 120000}, {60000, 300000},
};
const unsigned int kLongestInterval = 600000;
// Up to this interval the loop wakes at half of it, or a due scan could wait a whole idle sleep.
const unsigned int kHalfSleepUpTo = 20000;

}  // namespace

unsigned int CPseudoRealtimeSchedule::IntervalAfter(long long durationMs) {
    for (const Step& step : kIntervals)
        if (durationMs <= step.maxDurationMs) return step.intervalMs;
    return kLongestInterval;
}

CPseudoRealtimeSchedule::Decision CPseudoRealtimeSchedule::Decide(unsigned int now, unsigned int loopStartTick,
                                                                  unsigned int lastScanTick,
                                                                  long long lastDurationMs) {
    // Ticks wrap, so "later" is a signed difference, not a comparison.
    const bool noneSinceStart = static_cast<int32_t>(loopStartTick - lastScanTick) > 0;
    const unsigned int interval = noneSinceStart ? kIntervals[0].intervalMs : IntervalAfter(lastDurationMs);
    const unsigned int elapsed = now - lastScanTick;
    if (elapsed >= interval) return {true, 0};
    return {false, interval <= kHalfSleepUpTo ? interval / 2 : 0};
}

}  // namespace KvoPluginIm
