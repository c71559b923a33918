// CSystemIntegrityThread: scan orchestration. A need for a scan becomes a
// "Scans" row, its scope rows and one "Subscans" row per entity type; every
// unfinished subscan becomes a queued scanner thread; a completed scan is
// reported to the agent; an interrupted one is taken back out of the database.
#include <memory>
#include <utility>
#include <vector>

#include <wx/arrstr.h>
#include <wx/numformatter.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/ScanMarker.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlRealtimeChange.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlScanEntitySetId.h"
#include "plugins/im/SqlScanIntegrityRuleId.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

namespace {

// Columns of records whose members are not public.
const wxChar* const kAllowOnChange = wxT("allowOnChange");
const wxChar* const kWasEntity = wxT("wasEntity");
// Entity types whose changes real-time monitoring sees anyway.
const wxChar* const kNotPseudoRealtime[] = {wxT("File"), wxT("Directory"), wxT("Process")};

wxString Table(const wxString& elementName) { return elementName + wxT("s"); }

void LogDbError(const wxSQLite3Exception& e) {
    KvoCore::LogError(wxString::Format("Accessing si.db: %s", e.GetMessage()));
}


// The first column of the first row; 0 for no row or NULL.
long long QueryInt64(KvoCore::CSqliteDatabase& db, const wxString& sql) {
    wxSQLite3ResultSet rows = db.ExecuteQuery(sql);
    if (!rows.NextRow() || rows.IsNull(0)) return 0;
    return rows.GetInt64(0).GetValue();
}

// Whole seconds, at least one, grouped as the locale groups thousands.
wxString DurationText(long long durationMs) {
    long long seconds = durationMs / 1000;
    if (seconds < 1) seconds = 1;
    return wxNumberFormatter::ToString(static_cast<long>(seconds), wxNumberFormatter::Style_WithThousandsSep) +
           wxT(" seconds");
}

bool SkippedInPseudoRealtime(const wxString& entityType) {
    for (const wxChar* type : kNotPseudoRealtime)
        if (entityType == type) return true;
    return false;
}

}  // namespace

bool CSystemIntegrityThread::Flag(const char* key) const {
    bool value = false;
    return m_dom.Get(key, value) && value;
}

void CSystemIntegrityThread::InitiateScan() { TryInitiateScan(); }

bool CSystemIntegrityThread::TryInitiateScan() {
    const bool loadTest = Flag(KvoCore::Keys::kModeLoadTest);
    KVO_TRACE(s_Trace, "InitiateScan()");
    DeleteScannersWaiting();
    if (!m_db || !m_db->IsOpenDb()) return false;
    const int type = ChooseScanType();
    long long scanId = 0;
    bool hasRuleList = false;
    int subscans = 0;
    try {
        KvoCore::CSqliteTransaction transaction(*m_db);
        scanId = InsertScanRow(type);
        const bool inScope = AttachScanScope(scanId, type, hasRuleList);
        m_dom.ConditionRaise(Keys::kScanInitiated);
        if (inScope) subscans = CreateSubscans(scanId, type, loadTest);
        transaction.Commit();
    } catch (const wxSQLite3Exception& e) {
        // The need flags stay, so the loop tries again.
        LogDbError(e);
        m_bWriteFailedFull = KvoCore::CSqliteDatabase::IsDiskFull(e);
        return false;
    }
    if (subscans > 0)
        QueueIncompleteScanners();
    else
        CloseEmptyScan(scanId, type, hasRuleList);
    // Counted as queued, not as created: subscans without a scanner on this
    // host would otherwise ask for a new pseudo-real-time scan every interval.
    if (type == ScanPseudoRealtime) m_pseudoRealtimeGate = ScannersQueuedFor(scanId);
    m_dom.SetNil(Keys::kNeedIncrementalScan);
    m_dom.SetNil(Keys::kNeedRebuildBaseline);
    if (type == ScanRealtime) m_dom.SetNil(Keys::kOnChangeDataPending);
    if (type == ScanPseudoRealtime) m_dom.SetNil(Keys::kNeedPseudoRealtimeScan);
    return true;
}

int CSystemIntegrityThread::ChooseScanType() const {
    if (Flag(Keys::kNeedRebuildBaseline)) return ScanBaseline;
    if (Flag(Keys::kNeedIncrementalScan)) return ScanIncremental;
    if (Flag(Keys::kNeedPseudoRealtimeScan)) return ScanPseudoRealtime;
    return ScanRealtime;
}

long long CSystemIntegrityThread::InsertScanRow(int type) {
    const long long marker = CScanMarker::Insert(*m_db, CScanMarker::s_ScanStart);
    CSqlScan scan;
    scan.m_startTime = KvoCore::TimeNowMillis();
    scan.SetAttributeNull(&scan.m_startTime, false);
    scan.m_startingHighestExistingEntityId = marker;
    scan.SetAttributeNull(&scan.m_startingHighestExistingEntityId, false);
    scan.m_incrementalScan = type;
    scan.SetAttributeNull(&scan.m_incrementalScan, false);
    scan.SQLInsert(*m_db);
    CScanMarker::Delete(*m_db, marker);
    return scan.m_scanId;
}

// False when the scan has nothing in scope (a pseudo-real-time scan without a
// rule that allows it).
bool CSystemIntegrityThread::AttachScanScope(long long scanId, int type, bool& hasRuleList) {
    if (type == ScanPseudoRealtime) return AttachOnChangeRules(scanId) > 0;
    if (type != ScanBaseline && type != ScanIncremental) return true;
    // Entity sets waiting since a search base changed take precedence; the
    // listed rules stay for a later scan.
    if (type == ScanIncremental && AttachPendingEntitySets(scanId) > 0) return true;
    if (m_incrementalRuleIds.empty()) return true;
    for (long long ruleId : m_incrementalRuleIds) {
        CSqlScanIntegrityRuleId row;
        row.m_scanId = scanId;
        row.SetAttributeNull(&row.m_scanId, false);
        row.m_integrityRuleId = ruleId;
        row.SetAttributeNull(&row.m_integrityRuleId, false);
        row.SQLInsert(*m_db);
    }
    hasRuleList = true;
    m_incrementalRuleIds.clear();
    return true;
}

int CSystemIntegrityThread::AttachPendingEntitySets(long long scanId) {
    const CSqlScanEntitySetId row;
    return m_db->ExecuteUpdate(wxString::Format("UPDATE [%1$s] SET [%2$s]=%3$lld WHERE [%2$s] IS NULL;",
                                                Table(CSqlScanEntitySetId::ElementName()),
                                                row.GetAttributeName(&row.m_scanId), scanId));
}

int CSystemIntegrityThread::AttachOnChangeRules(long long scanId) {
    const CSqlScanIntegrityRuleId row;
    return m_db->ExecuteUpdate(wxString::Format(
        "INSERT INTO [%1$s] ([%2$s],[%3$s]) SELECT %4$lld AS [%2$s], [%3$s] FROM [%5$s] WHERE [%6$s]=1;",
        Table(CSqlScanIntegrityRuleId::ElementName()), row.GetAttributeName(&row.m_scanId),
        row.GetAttributeName(&row.m_integrityRuleId), scanId, Table(CSqlIntegrityRule::ElementName()),
        kAllowOnChange));
}

int CSystemIntegrityThread::CreateSubscans(long long scanId, int type, bool loadTest) {
    if (type != ScanRealtime) return CreateEntitySetSubscans(scanId, type, loadTest);
    // A load test measures scanning, not real-time change processing.
    if (loadTest) return 0;
    const CSqlRealtimeChange change;
    wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
        "SELECT DISTINCT [%s] FROM [%s];", change.GetAttributeName(&change.m_entityType),
        Table(CSqlRealtimeChange::ElementName())));
    int created = 0;
    while (rows.NextRow()) {
        if (rows.IsNull(0)) continue;
        const wxString entityType = rows.GetString(0);
        InsertSubscan(scanId, entityType, loadTest);
        ++created;
        KVO_TRACE(s_Trace, "Created a realtime subscan record in the DB for %s entities.", entityType);
    }
    return created;
}

// One subscan per entity-set table with rows in scope, in the order the
// schema lists the tables.
int CSystemIntegrityThread::CreateEntitySetSubscans(long long scanId, int type, bool loadTest) {
    wxArrayString tables;
    {
        wxSQLite3ResultSet rows =
            m_db->ExecuteQuery("SELECT NAME FROM sqlite_master WHERE TYPE='table' AND NAME GLOB '*Sets';");
        while (rows.NextRow()) tables.Add(rows.GetString(0));
    }
    const wxString filter = type == ScanPseudoRealtime ? wxString(wxT(" WHERE [onChange]=1")) : wxString();
    int created = 0;
    for (const wxString& table : tables) {
        if (QueryInt64(*m_db, wxString::Format("SELECT COUNT(*) FROM [%s]%s;", table, filter)) <= 0) continue;
        const wxString entityType = table.Left(table.length() - 4);
        if (type == ScanPseudoRealtime && SkippedInPseudoRealtime(entityType)) continue;
        InsertSubscan(scanId, entityType, loadTest);
        ++created;
        KVO_TRACE(s_Trace, "Created a subscan record in the DB for %s entities.", entityType);
    }
    return created;
}

void CSystemIntegrityThread::InsertSubscan(long long scanId, const wxString& entityType, bool loadTest) {
    CSqlSubscan subscan;
    subscan.m_scanId = scanId;
    subscan.SetAttributeNull(&subscan.m_scanId, false);
    subscan.m_entityType = entityType;
    subscan.SetAttributeNull(&subscan.m_entityType, false);
    subscan.m_scanStep = loadTest ? CIntegrityScanThread::StepFinished : CIntegrityScanThread::StepInit;
    subscan.SetAttributeNull(&subscan.m_scanStep, false);
    subscan.SQLInsert(*m_db);
}

void CSystemIntegrityThread::EndScanRow(long long scanId) {
    const long long marker = CScanMarker::Insert(*m_db, CScanMarker::s_ScanEnd);
    const CSqlScan scan;
    wxSQLite3Statement update = m_db->PrepareStatement(wxString::Format(
        "UPDATE [%ss] SET [%s]=?1, [%s]=?2 WHERE [%s]=?3;", CSqlScan::ElementName(),
        scan.GetAttributeName(&scan.m_endTime), scan.GetAttributeName(&scan.m_endingHighestExistingEntityId),
        scan.GetAttributeName(&scan.m_scanId)));
    update.Bind(1, wxLongLong(KvoCore::TimeNowMillis()));
    update.Bind(2, wxLongLong(marker));
    update.Bind(3, wxLongLong(scanId));
    update.ExecuteUpdate();
    CScanMarker::Delete(*m_db, marker);
}

// A scan without anything to scan is over as soon as it began.
void CSystemIntegrityThread::CloseEmptyScan(long long scanId, int type, bool hasRuleList) {
    try {
        KvoCore::CSqliteTransaction transaction(*m_db);
        EndScanRow(scanId);
        transaction.Commit();
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
        return;
    }
    if (type == ScanBaseline) m_dom.AgentEventWrite(hasRuleList ? 8001 : 8000, wxT("00:00|0"));
    if (type == ScanIncremental) m_dom.AgentEventWrite(8002, wxT("00:00|0"));
    if (type != ScanRealtime) RaiseScanCompleted();
}

void CSystemIntegrityThread::RaiseScanCompleted() {
    m_dom.ConditionRaise(KvoCore::Keys::kHeartbeatNow);
    m_dom.ConditionRaise(Keys::kScanCompleted);
}

int CSystemIntegrityThread::QueueIncompleteScanners() {
    if (!m_db || !m_db->IsOpenDb()) return 0;
    std::vector<std::unique_ptr<CSqlSubscan>> subscans;
    try {
        LoadIncompleteSubscans(subscans);
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
        return 0;
    }
    int queued = 0;
    for (std::unique_ptr<CSqlSubscan>& subscan : subscans) {
        // A requeued subscan starts over: its checkpoint may describe a walk that is gone.
        subscan->m_scanStep = CIntegrityScanThread::StepInit;
        subscan->SetAttributeNull(&subscan->m_scanStep, false);
        CIntegrityScanThread* scanner = CreateScanner(subscan.get());
        if (scanner == nullptr) {
            DropUnsupportedSubscan(*subscan);
            continue;
        }
        subscan.release();  // the scanner owns it now
        scanner->SetHighestEntityIdAtStartOfScan(GetCurrentHighestEntityId());
        m_scannerQueue.push_back(scanner);
        ++queued;
        KVO_TRACE(s_Trace, "Queued a scanner thread for %s entities.", scanner->GetEntityType());
    }
    CompleteScansWithoutScanners();
    return queued;
}

int CSystemIntegrityThread::ScannersQueuedFor(long long scanId) const {
    int count = 0;
    for (CIntegrityScanThread* scanner : m_scannerQueue)
        if (scanner != nullptr && scanner->GetScanId() == scanId) ++count;
    for (CIntegrityScanThread* scanner : m_runningScanners)
        if (scanner->GetScanId() == scanId) ++count;
    return count;
}

// An open scan that no scanner works on would stay open for ever (its
// subscans had no scanner on this host, or all had finished before a
// restart): it completes now, with its completion event.
void CSystemIntegrityThread::CompleteScansWithoutScanners() {
    const CSqlScan names;
    std::vector<std::pair<long long, int>> idle;
    try {
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
            "SELECT [%s],[%s] FROM [%ss] WHERE [%s] IS NULL ORDER BY 1;", names.GetAttributeName(&names.m_scanId),
            names.GetAttributeName(&names.m_incrementalScan), CSqlScan::ElementName(),
            names.GetAttributeName(&names.m_endTime)));
        while (rows.NextRow()) {
            const long long scanId = rows.GetInt64(0).GetValue();
            if (ScannersQueuedFor(scanId) == 0) idle.emplace_back(scanId, rows.GetInt(1));
        }
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
        return;
    }
    for (const auto& scan : idle) CompleteScan(scan.first, scan.second);
}

void CSystemIntegrityThread::LoadIncompleteSubscans(std::vector<std::unique_ptr<CSqlSubscan>>& subscans) {
    const CSqlSubscan subscan;
    const CSqlScan scan;
    wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
        "SELECT * FROM [%1$ss] WHERE ([%2$s] ISNULL OR [%2$s]=0) AND [%3$s] IN (SELECT [%4$s] FROM [%5$ss] WHERE "
        "[%6$s] ISNULL OR [%6$s]=0);",
        CSqlSubscan::ElementName(), subscan.GetAttributeName(&subscan.m_endTime),
        subscan.GetAttributeName(&subscan.m_scanId), scan.GetAttributeName(&scan.m_scanId), CSqlScan::ElementName(),
        scan.GetAttributeName(&scan.m_endTime)));
    while (rows.NextRow()) {
        std::unique_ptr<CSqlSubscan> loaded(new CSqlSubscan());
        loaded->SQLLoad(rows);
        subscans.push_back(std::move(loaded));
    }
}

CIntegrityScanThread* CSystemIntegrityThread::CreateScanner(CSqlSubscan* subscan) {
    KvoCore::CRunnable* parent = KvoCore::CRunnable::This();
    if (m_scannerFactory) return m_scannerFactory(m_dom, parent, subscan);
    return CIntegrityScanThread::CreateIntegrityScanThread(m_dom, parent, subscan);
}

// The scan completes without the subscan, which no scanner here can do.
void CSystemIntegrityThread::DropUnsupportedSubscan(CSqlSubscan& subscan) {
    KvoCore::LogWarning(wxString::Format("Unable to create integrity scanner for subscan record %lld of type %s",
                                         subscan.m_subscanId, subscan.m_entityType));
    try {
        subscan.SQLDelete(*m_db);
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
    }
}

long long CSystemIntegrityThread::GetCurrentHighestEntityId() {
    long long id = 0;
    try {
        id = CScanMarker::Insert(*m_db, CScanMarker::s_ScanStart);
        CScanMarker::Delete(*m_db, id);
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
    }
    KVO_TRACE(s_Trace, "HighestEntityIdAtStartOfScan = %d", static_cast<int>(id));
    return id;
}

void CSystemIntegrityThread::GenerateScanCompletedEvent(long long scanId, long long& duration) {
    duration = 0;
    if (!m_db || !m_db->IsOpenDb()) return;
    try {
        CSqlScan scan;
        scan.m_scanId = scanId;
        scan.SetAttributeNull(&scan.m_scanId, false);
        if (!scan.SQLLoad(*m_db)) {
            KvoCore::LogError(wxString::Format("Unable to retrieve data for scan ID %lld;", scanId));
            return;
        }
        duration = scan.m_endTime - scan.m_startTime;
        const wxString durationText = DurationText(duration);
        KVO_TRACE(s_Trace, "Scan time: %d", static_cast<int>(duration / 1000));
        const unsigned int changes = CountScanChanges(scan);
        const int type = scan.m_incrementalScan;
        if (type == ScanBaseline || type == ScanIncremental) m_db->DumpMemoryStats(KvoCore::Keys::kTraceMemory);
        if (type == ScanIncremental) {
            m_dom.DoAgentEventWrite(8002, "%s|%u", durationText, changes);
            RaiseScanCompleted();
        } else if (type == ScanBaseline) {
            const bool hasRuleList = ReportRulesWithoutEntities(scanId);
            m_dom.DoAgentEventWrite(hasRuleList ? 8001 : 8000, "%s|%u", durationText, changes);
            RaiseScanCompleted();
        }
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
    }
}

// Entity rows the scan added, plus the entities it found deleted, less the
// rows whose event was dropped.
unsigned int CSystemIntegrityThread::CountScanChanges(const CSqlScan& scan) {
    const CSqlEntity entity;
    const CSqlSubscan subscan;
    const wxString entityId = entity.GetAttributeName(&entity.m_entityId);
    const long long from = scan.m_startingHighestExistingEntityId;
    const long long to = scan.m_endingHighestExistingEntityId;
    const long long created = QueryInt64(
        *m_db, wxString::Format("SELECT COUNT(*) FROM [%ss] WHERE [%s]>%lld AND [%s]<%lld;", CSqlEntity::ElementName(),
                                entityId, from, entityId, to));
    const long long dropped =
        QueryInt64(*m_db, wxString::Format("SELECT COUNT(*) FROM [%ss] WHERE [%s]>%lld AND [%s]<%lld AND [%s]=1;",
                                           CSqlEntity::ElementName(), entityId, from, entityId, to,
                                           entity.GetAttributeName(&entity.m_eventDropped)));
    const long long deleted = QueryInt64(
        *m_db, wxString::Format("SELECT SUM([%s]) FROM [%ss] WHERE [%s]=%lld;",
                                subscan.GetAttributeName(&subscan.m_numEntitiesDeleted), CSqlSubscan::ElementName(),
                                subscan.GetAttributeName(&subscan.m_scanId), scan.m_scanId));
    return static_cast<unsigned int>(created + deleted - dropped);
}

// Event 8015 for each rule of the baseline that has no entity; true when the
// baseline was limited to listed rules.
bool CSystemIntegrityThread::ReportRulesWithoutEntities(long long scanId) {
    const CSqlScanIntegrityRuleId row;
    KvoCore::Int64Set ruleIds;
    {
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
            "SELECT [%s] FROM [%s] WHERE [%s]=%lld;", row.GetAttributeName(&row.m_integrityRuleId),
            Table(CSqlScanIntegrityRuleId::ElementName()), row.GetAttributeName(&row.m_scanId), scanId));
        while (rows.NextRow()) ruleIds.insert(rows.GetInt64(0).GetValue());
    }
    wxSQLite3Statement* rules = m_rulesWithoutEntities.get();
    if (rules == nullptr) return !ruleIds.empty();
    rules->Reset();
    {
        wxSQLite3ResultSet rows = rules->ExecuteQuery();
        while (rows.NextRow()) {
            const long long ruleId = rows.GetInt64(0).GetValue();
            if (!ruleIds.empty() && ruleIds.count(ruleId) == 0) continue;
            m_dom.DoAgentEventWrite(8015, "%ld|%s", static_cast<long>(ruleId), KvoCore::ReplaceBars(rows.GetString(1)));
        }
    }
    rules->Reset();
    return !ruleIds.empty();
}

void CSystemIntegrityThread::CountEntitiesAtStart() {
    const wxString sql = wxString::Format("SELECT COUNT(*) FROM [%s];", Table(CSqlEntity::ElementName()));
    try {
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(sql);
        if (rows.NextRow()) {
            const int count = rows.GetInt(0);
            SetMetric("entitiesInTable", count);
            KVO_TRACE(s_Trace, "Initial count in Entitys table: %d", count);
            return;
        }
    } catch (const wxSQLite3Exception&) {
        // Reported below like a query without a row; the loop runs anyway.
    }
    KvoCore::LogError(wxString::Format("Error executing '%s'", sql));
}

// The last scanner of scanId has ended: the "-ScanEnd-" marker closes the scan,
// scans older than the last s_NumOldScansToKeep go, and the agent is told.
void CSystemIntegrityThread::CompleteScan(long long scanId, int scanType) {
    KVO_TRACE(s_Trace, "The scan with ID %lld just completed.", scanId);
    try {
        KvoCore::CSqliteTransaction transaction(*m_db);
        if (scanId > 0) {
            EndScanRow(scanId);
            PruneOldScans(scanId);
        } else {
            // Without a scan row to record it in, the marker stays behind.
            CScanMarker::Insert(*m_db, CScanMarker::s_ScanEnd);
        }
        transaction.Commit();
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
        m_bWriteFailedFull = KvoCore::CSqliteDatabase::IsDiskFull(e);
        return;
    }
    if (scanId > 0) {
        long long duration = 0;
        GenerateScanCompletedEvent(scanId, duration);
        if (scanType == ScanPseudoRealtime) {
            m_lastPseudoRealtimeDuration = duration;
            m_lastPseudoRealtimeTick = static_cast<unsigned int>(KvoCore::SystemTickCount());
        }
        if (scanType == ScanRealtime && EntitySetsWaiting()) m_dom.Set(Keys::kNeedIncrementalScan, true);
    }
    VacuumIfSparse();
}

void CSystemIntegrityThread::PruneOldScans(long long scanId) {
    if (scanId <= s_NumOldScansToKeep) return;
    const CSqlScan scan;
    m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%ss] WHERE [%s]<=%lld", CSqlScan::ElementName(),
                                         scan.GetAttributeName(&scan.m_scanId), scanId - s_NumOldScansToKeep));
}

// Entity sets whose search base changed during real-time processing wait
// for an incremental scan.
bool CSystemIntegrityThread::EntitySetsWaiting() {
    const CSqlScanEntitySetId row;
    try {
        return QueryInt64(*m_db, wxString::Format("SELECT COUNT(*) FROM [%s] WHERE [%s] IS NULL;",
                                                  Table(CSqlScanEntitySetId::ElementName()),
                                                  row.GetAttributeName(&row.m_scanId))) > 0;
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
        return false;
    }
}

void CSystemIntegrityThread::VacuumIfSparse() {
    const long long kMaxFreePages = 1023;
    try {
        if (m_db->GetFreePageCount() > kMaxFreePages) m_db->Vacuum();
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
    }
}

void CSystemIntegrityThread::DeleteIncompleteScanData() {
    KVO_TRACE(s_Trace, "Deleting previously recorded entities & events from an aborted scan.");
    if (!m_db || !m_db->IsOpenDb()) return;
    const CSqlScan scan;
    const CSqlEntity entity;
    const wxString scans = Table(CSqlScan::ElementName());
    const wxString entitys = Table(CSqlEntity::ElementName());
    const wxString entityId = entity.GetAttributeName(&entity.m_entityId);
    const wxString endTime = scan.GetAttributeName(&scan.m_endTime);
    try {
        KvoCore::CSqliteTransaction transaction(*m_db);
        const long long high = QueryInt64(
            *m_db, wxString::Format("SELECT MAX([%s]) FROM [%s] WHERE [%s] IS NULL;",
                                    scan.GetAttributeName(&scan.m_startingHighestExistingEntityId), scans, endTime));
        int entities = 0;
        if (high != 0) {
            entities = m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%s] WHERE [%s] > %lld;", entitys, entityId, high));
            IncEntitiesDeletedCount(entities);
        }
        const int events = m_db->ExecuteUpdate(wxString::Format(
            "DELETE FROM [%1$s] WHERE [%2$s] NOT NULL AND NOT EXISTS (SELECT * FROM [%3$s] WHERE [%3$s].[%4$s] = "
            "[%1$s].[%2$s]);",
            Table(CSqlIntegrityEvent::ElementName()), kWasEntity, entitys, entityId));
        m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%s] WHERE [%s] IS NULL;", scans, endTime));
        transaction.Commit();
        KVO_TRACE(s_Trace, "Deleted %d entities and %d events.", entities, events);
    } catch (const wxSQLite3Exception& e) {
        LogDbError(e);
    }
}

}  // namespace KvoPluginIm
