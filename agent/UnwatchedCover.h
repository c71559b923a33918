// CUnwatchedCover: incremental scans for the directories the real-time
// engine could not watch (the inotify watch limit). No notification comes
// from them, so while any is left unwatched the plug-in is asked for an
// incremental scan (state key zel.im.bNeedIncrementalScan) at once, and again
// after each one has ended, with a pause ten times as long as that scan took
// and at least ten seconds: a tree too large to watch is still covered, and
// covering it never takes the host over.
//
// Used by the engine's own thread only.
#pragma once

#include <chrono>

#include "core/Dom.h"

namespace KvoAgent {

class CUnwatchedCover {
public:
    explicit CUnwatchedCover(KvoCore::CDom& dom);
    // Called on every turn of the engine's loop (at least once a second).
    void Follow(long long unwatched);

private:
    using Clock = std::chrono::steady_clock;
    enum class State { Idle, Asked, Running };

    void Ask();
    bool Asking() const;
    bool Served() const;
    long long Count(const char* condition) const;

    KvoCore::CDom m_dom;
    State m_state = State::Idle;
    bool m_covering = false;
    Clock::time_point m_due;
    Clock::time_point m_startedAt;
    // Scans completed and initiated by the time the one asked for began.
    long long m_completedBefore = 0;
    long long m_initiated = 0;
};

}  // namespace KvoAgent
