#include "agent/StartCheck.h"

#include <wx/wxsqlite3.h>

#include "agent/PluginKeys.h"
#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/StateKeys.h"

namespace KvoAgent {

void CStartCheck::Begin(const wxString& dbPath) {
    m_dom.ConditionRegister(PluginKeys::kScanCompleted);
    if (PendingRealtimeChanges(dbPath) == 0) {
        m_dom.Set(PluginKeys::kNeedIncrementalScan, true);
        return;
    }
    m_completedAtStart = ScansCompleted();
    m_dom.Set(PluginKeys::kOnChangeDataPending, true);
    m_waiting = true;
}

bool CStartCheck::Poll() {
    if (!m_waiting || ScansCompleted() <= m_completedAtStart) return false;
    m_waiting = false;
    m_dom.Set(PluginKeys::kNeedIncrementalScan, true);
    return true;
}

// Unknown (the table cannot be read) counts as none: the check then covers them.
long long CStartCheck::PendingRealtimeChanges(const wxString& dbPath) {
    KvoCore::CSqliteDatabase db(m_dom, KvoCore::Keys::kTraceAgent);
    if (!db.OpenIntegrityDb(dbPath, KvoCore::DbAccess::ReadOnly)) return 0;
    long long pending = 0;
    try {
        pending = db.ExecuteScalar("SELECT COUNT(*) FROM RealtimeChanges");
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogWarning(wxString::Format("Looking for real-time changes left in %s: %s", dbPath, e.GetMessage()));
    }
    db.Close();
    return pending;
}

long long CStartCheck::ScansCompleted() {
    long long count = 0;
    m_dom.ConditionQuery(PluginKeys::kScanCompleted, count);
    return count;
}

}  // namespace KvoAgent
