// CPseudoRealtimeSchedule: when the control loop flags the next
// pseudo-real-time scan. The longer the last one took, the longer the pause
// before the next, so that these scans never take over the host.
//
// A pure computation over 32-bit millisecond ticks (SystemTickCount, which
// wraps), so that it can be checked without waiting.
#pragma once

#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

class CPseudoRealtimeSchedule {
public:
    struct Decision {
        bool due;              // set Keys::kNeedPseudoRealtimeScan
        unsigned int sleepMs;  // a shorter sleep for this iteration; 0: the loop's own wait
    };

    // The pause after a scan that took durationMs.
    static unsigned int IntervalAfter(long long durationMs);
    // now: the current tick; loopStartTick: when OnRun started; lastScanTick and
    // lastDurationMs: end and length of the last finished pseudo-real-time scan.
    // Before one finished since the loop started, the shortest interval applies.
    static Decision Decide(unsigned int now, unsigned int loopStartTick, unsigned int lastScanTick,
                           long long lastDurationMs);
};

}  // namespace KvoPluginIm
