// CUnwatchedCover: incremental scans for what the real-time engine could not
// watch (directories beyond the inotify watch limit, files by extension under
// inotify). No notification comes from there, so while such a gap is left the
// plug-in is asked for an incremental scan (state key
// zel.im.bNeedIncrementalScan) at once, and again after each one has ended,
// with a pause ten times as long as that scan took and at least ten seconds:
// what cannot be watched is still covered, and covering it never takes the
// host over.
//
// Whether the scan asked for ran is read from the Scans table of si.db: the
// flag is also cleared by scans of other kinds that start at the same moment,
// and then it is set again.
//
// Used by the engine's own thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "core/Dom.h"

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoAgent {

class CUnwatchedCover {
public:
    // askForScan sets zel.im.bNeedIncrementalScan, and wakes whom it must.
    CUnwatchedCover(KvoCore::CDom& dom, std::function<void()> askForScan);
    ~CUnwatchedCover();
    // Called on every turn of the engine's loop (at least once a second).
    void Follow(bool gaps);

private:
    using Clock = std::chrono::steady_clock;

    void Ask();
    bool Asking() const;
    // The milliseconds the first incremental or baseline scan started since
    // the request took (0 when si.db cannot tell), or one of these.
    static const long long kNoneStarted = -2;
    static const long long kRunning = -1;
    long long ServedIn();

    KvoCore::CDom m_dom;
    std::function<void()> m_askForScan;
    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    bool m_covering = false;
    bool m_asked = false;
    bool m_unreadable = false;  // said once
    long long m_askedAt = 0;  // TimeNowMillis, the clock of Scans.startTime
    Clock::time_point m_due;
};

}  // namespace KvoAgent
