#include "agent/UnwatchedCover.h"

#include <wx/wxsqlite3.h>

#include <algorithm>

#include "agent/PluginKeys.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/StateKeys.h"
#include "core/Utilities.h"

namespace KvoAgent {

namespace {

const long long kShortestPauseMs = 10000;
const int kPauseFactor = 10;

}  // namespace

CUnwatchedCover::CUnwatchedCover(KvoCore::CDom& dom, std::function<void()> askForScan)
    : m_dom(dom), m_askForScan(std::move(askForScan)) {}

CUnwatchedCover::~CUnwatchedCover() = default;

void CUnwatchedCover::Follow(bool gaps) {
    if (!gaps) {
        // A scan already asked for runs all the same; the next gap starts afresh.
        m_covering = false;
        m_asked = false;
        m_db.reset();
        return;
    }
    if (!m_asked) {
        if (!m_covering || Clock::now() >= m_due) Ask();
        return;
    }
    // Read before si.db: the plug-in clears the flag only once the scan's row is there.
    const bool asking = Asking();
    const long long took = ServedIn();
    if (took >= 0) {
        m_due = Clock::now() + std::chrono::milliseconds(std::max(kShortestPauseMs, took * kPauseFactor));
        m_asked = false;
    } else if (!asking && took == kNoneStarted) {
        // Cleared by a scan of another kind that started as it was set.
        m_askForScan();
    }
}

void CUnwatchedCover::Ask() {
    if (!m_covering) KvoCore::LogInfo("real-time: incremental scans cover what is not watched");
    m_covering = true;
    m_asked = true;
    m_askedAt = KvoCore::TimeNowMillis();
    m_askForScan();
}

bool CUnwatchedCover::Asking() const {
    bool asking = false;
    return m_dom.Get(PluginKeys::kNeedIncrementalScan, asking) && asking;
}

long long CUnwatchedCover::ServedIn() {
    try {
        if (!m_db) {
            m_db.reset(new KvoCore::CSqliteDatabase(m_dom, KvoCore::Keys::kTraceAgent));
            if (!m_db->OpenIntegrityDb(m_dom.GetWxString(PluginKeys::kDbPath), KvoCore::DbAccess::ReadOnly))
                throw wxSQLite3Exception(WXSQLITE_ERROR, "cannot open the integrity database");
        }
        wxSQLite3Statement query = m_db->PrepareStatement(
            "SELECT [startTime], [endTime] FROM [Scans] WHERE [incrementalScan] IN (0, 1) AND [startTime]>=?1 "
            "ORDER BY [scanId] LIMIT 1;");
        query.Bind(1, static_cast<wxLongLong>(m_askedAt));
        wxSQLite3ResultSet row = query.ExecuteQuery();
        if (!row.NextRow()) return kNoneStarted;
        if (row.IsNull(1)) return kRunning;
        return std::max<long long>(0, row.GetInt64(1).GetValue() - row.GetInt64(0).GetValue());
    } catch (const wxSQLite3Exception& e) {
        if (!m_unreadable)
            KvoCore::LogWarning(wxString::Format(
                "real-time: cannot read the scans in the integrity database (%s); scans are asked for what is "
                "not watched every ten seconds",
                e.GetMessage()));
        m_unreadable = true;
        m_db.reset();
        return 0;
    }
}

}  // namespace KvoAgent
