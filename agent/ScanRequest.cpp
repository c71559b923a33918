#include "agent/ScanRequest.h"

#include <wx/wxsqlite3.h>

#include <algorithm>

#include "agent/AgentKeys.h"
#include "agent/PluginKeys.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/StateKeys.h"
#include "core/Utilities.h"

namespace KvoAgent {

namespace {

const std::chrono::milliseconds kLookEvery(200);

}  // namespace

CScanRequest::CScanRequest(KvoCore::CDom& dom) : m_dom(dom) {}

CScanRequest::~CScanRequest() = default;

void CScanRequest::Ask() {
    if (m_open && !m_started) return;
    m_open = true;
    m_started = false;
    m_askedAt = KvoCore::TimeNowMillis();
    m_nextLook = Clock::time_point();
    Raise();
}

long long CScanRequest::Follow() {
    if (!m_open) return kNoneStarted;
    // A busy engine turns its loop for every read: si.db is asked now and then.
    const Clock::time_point now = Clock::now();
    if (now < m_nextLook) return kRunning;
    m_nextLook = now + kLookEvery;
    // The flag before si.db: the plug-in clears it only once the scan's row is there.
    const bool flagSet = FlagSet();
    const long long took = ServedIn();
    if (took >= 0) {
        m_open = false;
        return took;
    }
    m_started = took == kRunning;
    if (!flagSet && !m_started) Raise();
    return took;
}

void CScanRequest::Raise() {
    m_dom.Set(PluginKeys::kNeedIncrementalScan, true);
    m_dom.ConditionRaise(AgentKeys::kRealtimeScanAsked);
}

bool CScanRequest::FlagSet() const {
    bool set = false;
    return m_dom.Get(PluginKeys::kNeedIncrementalScan, set) && set;
}

long long CScanRequest::ServedIn() {
    try {
        if (!m_db) {
            m_db.reset(new KvoCore::CSqliteDatabase(m_dom, KvoCore::Keys::kTraceAgent));
            if (!m_db->OpenIntegrityDb(m_dom.GetWxString(PluginKeys::kDbPath), KvoCore::DbAccess::ReadOnly))
                throw wxSQLite3Exception(WXSQLITE_ERROR, "cannot open the integrity database");
            m_query = m_db->PrepareStatement(
                "SELECT [startTime], [endTime] FROM [Scans] WHERE [incrementalScan] IN (0, 1) AND [startTime]>=?1 "
                "ORDER BY [scanId] LIMIT 1;");
        }
        m_query.Bind(1, static_cast<wxLongLong>(m_askedAt));
        long long took = kNoneStarted;
        {
            // The result set shares the statement: it must not finalize it.
            wxSQLite3ResultSet row = m_query.ExecuteQuery();
            if (row.NextRow())
                took = row.IsNull(1) ? kRunning
                                     : std::max<long long>(0, row.GetInt64(1).GetValue() - row.GetInt64(0).GetValue());
        }
        // No snapshot of si.db is held between looks.
        m_query.Reset();
        return took;
    } catch (const wxSQLite3Exception& e) {
        if (!m_unreadable)
            KvoCore::LogWarning(wxString::Format(
                "real-time: cannot read the scans in the integrity database (%s); a request for a scan counts as "
                "served once asked",
                e.GetMessage()));
        m_unreadable = true;
        m_query = wxSQLite3Statement();
        m_db.reset();
        return 0;
    }
}

}  // namespace KvoAgent
