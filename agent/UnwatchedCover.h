// CUnwatchedCover: incremental scans for what the real-time engine could not
// watch (directories beyond the inotify watch limit, files by extension under
// inotify). No notification comes from there, so while such a gap is left a
// scan is asked for at once, and again after each one has ended, with a pause
// ten times as long as that scan took and at least ten seconds: what cannot
// be watched is still covered, and covering it never takes the host over.
//
// Used by the engine's own thread only.
#pragma once

#include <chrono>

#include "agent/ScanRequest.h"

namespace KvoAgent {

class CUnwatchedCover {
public:
    explicit CUnwatchedCover(CScanRequest& request) : m_request(request) {}
    // Called on every turn of the engine's loop (at least once a second),
    // after the request's own Follow, whose result it takes.
    void Follow(bool gaps, long long served);

private:
    using Clock = std::chrono::steady_clock;

    CScanRequest& m_request;
    bool m_covering = false;
    bool m_waiting = false;
    Clock::time_point m_due;
};

}  // namespace KvoAgent
