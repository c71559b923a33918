// CSystemIntegrityThread: the scan status query, and the purge of superseded
// entity versions that the status callers' heartbeat gates in event mode 2.
#include <memory>

#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/ImScanStatus.h"
#include "plugins/im/QuerySupport.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

using namespace QuerySupport;

std::atomic<int> CSystemIntegrityThread::s_DenormalizedHeartbeat{0};
std::atomic<bool> CSystemIntegrityThread::s_bDenormalizedPurgeArmed{false};

namespace {

// Bits of the pending scan requests.
const int kPendingBaseline = 1;
const int kPendingIncremental = 2;
const int kPendingOnChange = 4;
const int kPendingPseudoRealtime = 8;
// Baseline and incremental scans, entities and events: what the plug-in can do.
const int kCapabilities = 3;
const unsigned int kPurgeIntervalMs = 60000;

// Counts status calls up to 3; the purge waits for them, so entities are only
// trimmed once someone is known to be collecting the denormalized events.
void CountDenormalizedHeartbeat() {
    int beats = CSystemIntegrityThread::s_DenormalizedHeartbeat.load();
    while (beats <= 2) {
        if (CSystemIntegrityThread::s_DenormalizedHeartbeat.compare_exchange_weak(beats, beats + 1)) {
            KVO_TRACE(CSystemIntegrityThread::s_Trace, "Incremented s_DenormalizedHeartbeat to %d", beats + 1);
            return;
        }
    }
}

int PendingScanBitmask(const KvoCore::CDom& dom) {
    int bits = 0;
    if (IsSet(dom, Keys::kNeedRebuildBaseline) || IsSet(dom, Keys::kRulesChanged)) bits |= kPendingBaseline;
    if (IsSet(dom, Keys::kNeedIncrementalScan)) bits |= kPendingIncremental;
    if (IsSet(dom, Keys::kOnChangeDataPending)) bits |= kPendingOnChange;
    if (IsSet(dom, Keys::kNeedPseudoRealtimeScan)) bits |= kPendingPseudoRealtime;
    return bits;
}

long long CountOf(KvoCore::CSqliteDatabase& db, const wxString& sql) {
    wxSQLite3ResultSet rows = db.ExecuteQuery(sql);
    return rows.NextRow() ? rows.GetInt64(0).GetValue() : 0;
}

long long HighestEntityId(KvoCore::CSqliteDatabase& db) {
    const CSqlEntity entity;
    const wxString entityId = entity.GetAttributeName(&entity.m_entityId);
    return CountOf(db, wxString::Format("SELECT MAX([%s]) FROM [%ss] WHERE [%s] NOT NULL;", entityId,
                                        CSqlEntity::ElementName(), entityId));
}

// Share of the scan's subscans that have ended, rounded to whole percent.
int SubscansDonePercent(KvoCore::CSqliteDatabase& db, long long scanId) {
    if (scanId == 0) return 0;
    const CSqlSubscan subscan;
    const wxString table = CSqlSubscans::ElementName();
    const wxString scanColumn = subscan.GetAttributeName(&subscan.m_scanId);
    const int total = static_cast<int>(
        CountOf(db, wxString::Format("SELECT COUNT(*) FROM [%s] WHERE [%s]=%lld;", table, scanColumn, scanId)));
    const int done = static_cast<int>(
        CountOf(db, wxString::Format("SELECT COUNT(*) FROM [%s] WHERE [%s]=%lld AND [%s] NOT NULL;", table, scanColumn,
                                     scanId, subscan.GetAttributeName(&subscan.m_endTime))));
    return total == 0 ? 0 : (1000 * done / total + 5) / 10;
}

// The scan that has started and not ended, if any.
bool LoadOpenScan(KvoCore::CSqliteDatabase& db, CSqlScan& scan) {
    wxSQLite3ResultSet rows = db.ExecuteQuery(
        wxString::Format("SELECT * FROM [%s] WHERE [%s] NOT NULL AND [%s] IS NULL LIMIT 1;", CSqlScans::ElementName(),
                         scan.GetAttributeName(&scan.m_startTime), scan.GetAttributeName(&scan.m_endTime)));
    return rows.NextRow() && scan.SQLLoad(rows);
}

void ReadDatabaseStatus(KvoCore::CSqliteDatabase& db, bool vmSafeGuest, CImScanStatus& status) {
    // A VM-safe guest leaves the entity table to the host's scanner.
    if (!vmSafeGuest) status.SetHighestEntityId(HighestEntityId(db));
    CSqlScan scan;
    if (!LoadOpenScan(db, scan)) return;
    const int type = scan.m_incrementalScan + 1;
    status.SetImScanType(type);
    if (type >= 1 && type <= 4) status.SetStatus(KvoCore::CScanStatus::InProgress);
    // Real-time and pseudo-real-time scans are the agent's own reaction to changes.
    if (type == 3 || type == 4) status.SetInteractive(0);
    if (!vmSafeGuest) status.SetPercentComplete(SubscansDonePercent(db, scan.m_scanId));
}

void LogPurgeError(const wxString& reason) {
    KvoCore::LogError(
        wxString::Format("purgeEntitiesInDenormalizedMode() error deleting redundant entities from si.db: %s", reason));
}

// Deletes every superseded and every deleted version: in event mode 2 the events
// went out with their attributes, so only current versions are still needed.
void PurgeRedundantEntities(KvoCore::CSqliteDatabase* db) {
    if (db == nullptr || !db->IsOpenDb()) {
        LogPurgeError("the database is not open");
        return;
    }
    const unsigned int start = TickNow();
    try {
        const CSqlEntity entity;
        const wxString supercededBy = entity.GetAttributeName(&entity.m_supercededBy);
        const int deleted = db->ExecuteUpdate(wxString::Format("DELETE FROM [%ss] WHERE ([%s]=-1 OR [%s]>0);",
                                                               CSqlEntity::ElementName(), supercededBy, supercededBy));
        CSystemIntegrityThread::IncEntitiesDeletedCount(deleted);
        const unsigned int elapsed = ElapsedMs(start);
        if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
            KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec purging %d entity records.", elapsed, deleted);
        KVO_TRACE(CSystemIntegrityThread::s_Trace, "Purged %d redundant entities from si.db", deleted);
    } catch (const wxSQLite3Exception& e) {
        LogPurgeError(e.GetMessage());
    }
}

}  // namespace

KvoCore::XMLObject* CSystemIntegrityThread::GetStatus(KvoCore::CDom& dom) {
    auto status = std::make_unique<CImScanStatus>();
    const int eventMode = KvoPluginIm::GetEventMode();
    if (eventMode == 2) CountDenormalizedHeartbeat();

    status->SetScanError(false);
    status->SetStatus(KvoCore::CScanStatus::Idle);
    status->SetInteractive(1);
    status->SetEventMode(eventMode);
    status->SetPendingScanBitmask(PendingScanBitmask(dom));
    status->SetImCapabilityMask(kCapabilities);

    std::unique_ptr<KvoCore::CSqliteDatabase> db = OpenQueryDb(dom);
    if (!db) return status.release();
    try {
        ReadDatabaseStatus(*db, IsSet(dom, KvoCore::Keys::kModeVmsafeGuest), *status);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("GetStatus() error accessing si.db: %s", e.GetMessage()));
    }
    db->Close();
    return status.release();
}

void CSystemIntegrityThread::purgeEntitiesInDenormalizedMode() { purgeEntitiesInDenormalizedMode(TickNow()); }

void CSystemIntegrityThread::purgeEntitiesInDenormalizedMode(unsigned int now) {
    if (KvoPluginIm::GetEventMode() != 2) return;
    if (!s_bDenormalizedPurgeArmed.exchange(true)) {
        s_DenormalizedHeartbeat.store(0);
        KVO_TRACE(s_Trace, "Skipping enity purge, s_DenormalizedHeartbeats = %d ", 0);
        return;
    }
    const int beats = s_DenormalizedHeartbeat.load();
    if (beats <= 2) {
        KVO_TRACE(s_Trace, "Skipping enity purge, s_DenormalizedHeartbeats = %d ", beats);
        return;
    }
    if (now - m_lastPurgeTick < kPurgeIntervalMs) {
        KVO_TRACE(s_Trace, "Skipping enity purge, too soon, lastPurge= %lu now= %lu ",
                  static_cast<unsigned long>(m_lastPurgeTick), static_cast<unsigned long>(now));
        return;
    }
    m_lastPurgeTick = now;
    KVO_TRACE(s_Trace, "Purging redundant entities");
    PurgeRedundantEntities(m_db.get());
}

}  // namespace KvoPluginIm
