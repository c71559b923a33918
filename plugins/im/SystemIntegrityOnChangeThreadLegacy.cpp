#include "plugins/im/SystemIntegrityOnChangeThreadLegacy.h"

#include <limits>

#include <wx/wxsqlite3.h>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityOnChangeThreadUnix.h"

namespace KvoPluginIm {

const char* const CSystemIntegrityOnChangeThreadLegacy::s_Trace = Keys::kTraceScannerOnChange;

CSystemIntegrityOnChangeThreadLegacy* CSystemIntegrityOnChangeThreadLegacy::CreateOnChangeThread(KvoCore::CDom& dom,
                                                                                               int settleTimeMs,
                                                                                               int maxDelayMs) {
    return new CSystemIntegrityOnChangeThreadUnix(dom, settleTimeMs, maxDelayMs);
}

CSystemIntegrityOnChangeThreadLegacy::CSystemIntegrityOnChangeThreadLegacy(KvoCore::CDom& dom, int settleTimeMs,
                                                                           int maxDelayMs)
    : KvoCore::CRunnable("CSystemIntegrityOnChangeThreadLegacy", &dom),
      CSystemIntegrityOnChangeThread(dom, settleTimeMs, maxDelayMs) {}

wxString CSystemIntegrityOnChangeThreadLegacy::GetThreadName() const { return "CSystemIntegrityOnChangeThreadLegacy"; }

void CSystemIntegrityOnChangeThreadLegacy::OnRun() {
    if (!SetUp()) return;
    while (!m_agent->ShouldExit(0, nullptr) && !TestDestroy(0, nullptr)) {
        // Unlike the engine's Update, polls come as often as the setting asks.
        Housekeeping(0);
        OnMainLoopSleep(m_updateIntervalMs);
    }
}

bool CSystemIntegrityOnChangeThreadLegacy::SetUp() {
    wxMutexLocker lock(m_mutex);
    KVO_TRACE(s_Trace, "OnRun()");
    if (!OpenDatabase()) return false;
    try {
        m_directoryTypeInfo.Init(*m_db, true);
        StartMonitoring(m_directoryTypeInfo.GetEntitySetInfos());
        m_fileTypeInfo.Init(*m_db, true);
        StartMonitoring(m_fileTypeInfo.GetEntitySetInfos());
        m_processTypeInfo.Init(*m_db, true);
        InitIntervals();
        UpdateProcessInfo(false);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Unhandled exception in the onChange thread: %s", e.GetMessage()));
        Release();
        return false;
    }
    return true;
}

void CSystemIntegrityOnChangeThreadLegacy::OnExit() {
    wxMutexLocker lock(m_mutex);
    KvoCore::CRunnable::OnExit();
    if (m_db) {
        // The cache dies with the thread (a new one starts empty): what it
        // still holds goes to si.db now, settled or not, or it would be lost.
        try {
            MoveCachedRecords(std::numeric_limits<long long>::max());
        } catch (const wxSQLite3Exception& e) {
            KvoCore::LogError(wxString::Format("Error moving data from the onChange database to the main database: %s",
                                               e.GetMessage()));
        }
    }
    Release();
}

bool CSystemIntegrityOnChangeThreadLegacy::OnEntityChanged(const KvoCore::CHostMetaData& entity, int change,
                                                           long long time, const wxString& user,
                                                           const wxChar* processName, const wxChar* pid) {
    KVO_TRACE(s_Trace, "OnEntityChanged Begin");
    const bool recorded = CSystemIntegrityOnChangeThread::OnEntityChanged(entity, change, time, user, processName, pid);
    KVO_TRACE(s_Trace, "OnEntityChanged End");
    return recorded;
}

void CSystemIntegrityOnChangeThreadLegacy::MoveOnChangeRecords() {
    KVO_TRACE(s_Trace, "MoveOnChangeRecords Begin");
    CSystemIntegrityOnChangeThread::MoveOnChangeRecords();
    KVO_TRACE(s_Trace, "MoveOnChangeRecords End");
}

void CSystemIntegrityOnChangeThreadLegacy::RememberNotIncluded(const wxString& type, const wxString& key, int) {
    KVO_TRACE(s_Trace, "%s %s is not included by any rules - caching its status", type, key);
    InsertCacheRow(type, key, wxString());
}

}  // namespace KvoPluginIm
