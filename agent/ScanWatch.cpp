#include "agent/ScanWatch.h"

#include <algorithm>

#include "core/Dom.h"
#include "core/SqliteTransaction.h"
#include "core/StateKeys.h"

namespace KvoAgent {

namespace {

// The last step; a subscan left there without an end time was aborted.
const int kFinishedStep = 999999999;

// The plug-in writes 0 as well as NULL for "not yet".
const char* const kOpenScan = "([endTime] IS NULL OR [endTime]=0)";

long long Int64(wxSQLite3ResultSet& rs, int column) {
    return rs.IsNull(column) ? 0 : rs.GetInt64(column).GetValue();
}

long long QueryInt64(KvoCore::CSqliteDatabase& db, const wxString& sql) {
    wxSQLite3ResultSet rs = db.ExecuteQuery(sql);
    return rs.NextRow() ? Int64(rs, 0) : 0;
}

}  // namespace

CScanWatch::CScanWatch(KvoCore::CDom& dom, int scanKind, bool orBaseline)
    : m_db(new KvoCore::CSqliteDatabase(dom, KvoCore::Keys::kTraceAgent)), m_scanKind(scanKind), m_orBaseline(orBaseline) {}

wxString CScanWatch::KindCondition(const wxString& column) const {
    if (m_orBaseline) return wxString::Format("%s IN (%d,0)", column, m_scanKind);
    return wxString::Format("%s=%d", column, m_scanKind);
}

bool CScanWatch::Open(const wxString& dbPath) { return m_db->OpenIntegrityDb(dbPath, KvoCore::DbAccess::ReadOnly); }

void CScanWatch::Close() { m_db->Close(); }

bool CScanWatch::Choose() {
    // The agent requeues every unfinished subscan of an open scan when it
    // starts; a scan whose subscans all ended is never closed by it, so only
    // one with work left can be waited for.
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT s.[scanId], s.[startTime], s.[startingHighestExistingEntityId], s.[incrementalScan] "
        "FROM [Scans] AS s WHERE %s AND (s.[endTime] IS NULL OR s.[endTime]=0) AND EXISTS "
        "(SELECT 1 FROM [Subscans] AS u WHERE u.[scanId]=s.[scanId] AND (u.[endTime] IS NULL OR u.[endTime]=0)) "
        "ORDER BY s.[scanId] DESC LIMIT 1;",
        KindCondition("s.[incrementalScan]")));
    if (rs.NextRow()) {
        m_resumed = true;
        m_scanId = Int64(rs, 0);
        m_scanStartTime = Int64(rs, 1);
        m_firstEntityId = Int64(rs, 2);
        m_foundKind = static_cast<int>(Int64(rs, 3));
        rs.Finalize();
        // The resumed subscans start over: what counts is what they record from now on.
        m_countedUpTo = QueryInt64(*m_db, "SELECT MAX([entityId]) FROM [Entitys];");
    } else {
        rs.Finalize();
        m_highestAtStart = QueryInt64(*m_db, "SELECT MAX([scanId]) FROM [Scans];");
    }
    ReadHistory();
    return m_resumed;
}

// Events carry no scan id; those of a resumed scan are the ones recorded since it started.
void CScanWatch::ReadHistory() {
    m_highestEventBefore = QueryInt64(
        *m_db, m_resumed ? wxString::Format("SELECT MAX([integrityEventId]) FROM [IntegrityEvents] WHERE [recorded]<%lld;",
                                            m_scanStartTime)
                         : wxString("SELECT MAX([integrityEventId]) FROM [IntegrityEvents];"));
    m_hadRules = QueryInt64(*m_db, "SELECT COUNT(*) FROM [IntegrityRules];") != 0;
}

CScanWatch::Status CScanWatch::Poll() {
    Status status;
    try {
        // One snapshot, so that a scan row is never seen without its subscans.
        KvoCore::CSqliteTransaction snapshot(*m_db);
        if (m_scanId == 0) FindScan(status);
        if (m_scanId != 0) ReadScan(status);
        snapshot.Commit();
    } catch (const wxSQLite3Exception& e) {
        status.state = State::Unreadable;
        status.reason = e.GetMessage();
    }
    return status;
}

void CScanWatch::FindScan(Status& status) {
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT [scanId], [startTime], [startingHighestExistingEntityId], [incrementalScan] FROM [Scans] "
        "WHERE %s AND [scanId]>%lld ORDER BY [scanId] LIMIT 1;",
        KindCondition("[incrementalScan]"), m_highestAtStart));
    if (!rs.NextRow()) {
        status.state = State::Waiting;
        return;
    }
    m_scanId = Int64(rs, 0);
    m_scanStartTime = Int64(rs, 1);
    m_firstEntityId = Int64(rs, 2);
    m_foundKind = static_cast<int>(Int64(rs, 3));
}

void CScanWatch::ReadScan(Status& status) {
    status.scanId = m_scanId;
    status.scanKind = m_foundKind;
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT [startTime], [endTime], (SELECT COUNT(*) FROM [Subscans] WHERE [scanId]=%lld) "
        "FROM [Scans] WHERE [scanId]=%lld;",
        m_scanId, m_scanId));
    // An aborted scan loses its row; its id may then be given to a new scan.
    if (!rs.NextRow() || Int64(rs, 0) != m_scanStartTime) {
        status.state = State::Failed;
        status.reason = "it was aborted, and what it had recorded was deleted";
        return;
    }
    const bool closed = Int64(rs, 1) != 0;
    const long long subscans = Int64(rs, 2);
    rs.Finalize();
    if (subscans == 0 && !closed) {
        // The agent deletes the subscans it has no scanner for; none left means nothing will ever run.
        status.state = State::Failed;
        status.reason = "this agent has no scanner for any of its entity types (see kvo-agent.log)";
        return;
    }
    if (closed) {
        status.state = State::Completed;
        ReadUnfinishedSubscans(status);
        return;
    }
    status.state = State::Running;
    ReadProgress(status);
}

// A closed scan may still have subscans that never finished: those the agent
// aborted (step 999999999, agent event 3010) or gave up on after retries
// (agent event 2001). Either way the scan's records are incomplete.
void CScanWatch::ReadUnfinishedSubscans(Status& status) {
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT [entityType], [scanStep] FROM [Subscans] WHERE [scanId]=%lld AND %s ORDER BY [subscanId];",
        m_scanId, kOpenScan));
    wxString reason;
    while (rs.NextRow()) {
        if (!reason.empty()) reason += "; ";
        if (!rs.IsNull(1) && rs.GetInt(1) == kFinishedStep)
            reason += "the " + rs.GetString(0) + " scan aborted (agent event 3010 in agent-events.log)";
        else
            reason += "the " + rs.GetString(0) + " scan kept failing and was given up (agent event 2001 in agent-events.log)";
    }
    if (reason.empty()) return;
    status.state = State::Failed;
    status.reason = reason;
}

void CScanWatch::ReadProgress(Status& status) {
    // Counted on from where the last poll stopped: a scan only adds rows.
    const long long from = std::max(m_countedUpTo, m_firstEntityId - 1);
    wxSQLite3ResultSet count = m_db->ExecuteQuery(
        wxString::Format("SELECT COUNT(*), MAX([entityId]) FROM [Entitys] WHERE [entityId]>%lld;", from));
    if (count.NextRow() && !count.IsNull(1)) {
        m_entitiesRecorded += Int64(count, 0);
        m_countedUpTo = Int64(count, 1);
    }
    count.Finalize();
    status.entitiesRecorded = m_entitiesRecorded;

    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT [entityType], [scanStep], [checkpointInfo] FROM [Subscans] "
        "WHERE [scanId]=%lld AND %s AND [startTime] IS NOT NULL ORDER BY [startTime] DESC LIMIT 1;",
        m_scanId, kOpenScan));
    if (!rs.NextRow()) return;
    status.entityType = rs.GetString(0);
    status.step = rs.IsNull(1) ? 0 : rs.GetInt(1);
    status.checkpoint = rs.IsNull(2) ? wxString() : rs.GetString(2);
}

CScanWatch::Summary CScanWatch::ReadSummary() {
    Summary summary;
    summary.scanId = m_scanId;
    summary.scanKind = m_foundKind;
    wxSQLite3ResultSet scan = m_db->ExecuteQuery(
        wxString::Format("SELECT [endTime]-[startTime] FROM [Scans] WHERE [scanId]=%lld;", m_scanId));
    if (scan.NextRow()) summary.durationMs = Int64(scan, 0);
    scan.Finalize();
    // Marker rows of the scan bookkeeping carry a type starting with '-' and no key.
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(
        "SELECT [entityType], COUNT(*) FROM [Entitys] WHERE [supercededBy] IS NULL AND [key] IS NOT NULL "
        "GROUP BY [entityType] ORDER BY [entityType];");
    while (rs.NextRow()) summary.currentEntities.emplace_back(rs.GetString(0), Int64(rs, 1));
    return summary;
}

std::map<int, long long> CScanWatch::CountEventsAfter() {
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT [change], COUNT(*) FROM [IntegrityEvents] WHERE [integrityEventId]>%lld GROUP BY [change];",
        m_highestEventBefore));
    std::map<int, long long> counts;
    while (rs.NextRow()) counts[static_cast<int>(Int64(rs, 0))] = Int64(rs, 1);
    return counts;
}

// A baseline limited to listed rules names them in ScanIntegrityRuleIds; one without covers every rule.
std::vector<CScanWatch::Rule> CScanWatch::ReadRulesCovered() {
    wxSQLite3ResultSet rs = m_db->ExecuteQuery(wxString::Format(
        "SELECT [integrityRuleId], [name], [identifier] FROM [IntegrityRules] "
        "WHERE NOT EXISTS (SELECT 1 FROM [ScanIntegrityRuleIds] WHERE [scanId]=%1$lld) OR [integrityRuleId] IN "
        "(SELECT [integrityRuleId] FROM [ScanIntegrityRuleIds] WHERE [scanId]=%1$lld) ORDER BY [integrityRuleId];",
        m_scanId));
    std::vector<Rule> rules;
    while (rs.NextRow())
        rules.push_back({Int64(rs, 0), rs.IsNull(1) ? wxString() : rs.GetString(1),
                         rs.IsNull(2) ? wxString() : rs.GetString(2)});
    return rules;
}

}  // namespace KvoAgent
