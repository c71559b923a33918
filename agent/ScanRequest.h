// CScanRequest: the real-time engine's requests for an incremental scan
// (state key zel.im.bNeedIncrementalScan), seen through until a scan that
// started after the request has run. The plug-in clears the flag as it starts
// any scan, so one of another kind that starts just as the flag is set would
// swallow the request: while no incremental or baseline scan has started
// since, read from the Scans table of si.db, a cleared flag is set again.
// Every request raises AgentKeys::kRealtimeScanAsked, on which the host wakes
// the control thread.
//
// Used by the engine's own thread only.
#pragma once

#include <chrono>
#include <memory>

#include <wx/wxsqlite3.h>

#include "core/Dom.h"

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoAgent {

class CScanRequest {
public:
    explicit CScanRequest(KvoCore::CDom& dom);
    ~CScanRequest();
    CScanRequest(const CScanRequest&) = delete;
    CScanRequest& operator=(const CScanRequest&) = delete;

    // A scan that starts from now on; one asked for and not started yet serves.
    void Ask();
    // On every turn of the engine's loop: sets the flag again where it was
    // swallowed. The milliseconds the scan that served the last request took
    // once it has ended (0 when si.db cannot tell), else a negative value.
    long long Follow();

private:
    using Clock = std::chrono::steady_clock;
    static const long long kNoneStarted = -2;
    static const long long kRunning = -1;

    void Raise();
    bool FlagSet() const;
    long long ServedIn();

    KvoCore::CDom m_dom;
    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    wxSQLite3Statement m_query;  // prepared once per connection
    bool m_open = false;        // asked for, not yet seen through
    bool m_started = false;     // a scan started since the request
    long long m_askedAt = 0;    // TimeNowMillis, the clock of Scans.startTime
    Clock::time_point m_nextLook;
    bool m_unreadable = false;  // said once
};

}  // namespace KvoAgent
