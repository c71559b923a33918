// CIntegrityScanThread: versions of entities. A scan records a new row for
// every entity it finds; the attribute hash condenses the row's attribute
// values, and the superseded-by column links the rows of one entity.
//
// A baseline records without comparing: its rows become the current versions
// and the older current rows of the type are retired. The comparing scans
// (incremental, pseudo-real-time) are aborted here before they change a row,
// since their version comparison and event reporting are not built yet.
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {
namespace {

bool ComparesVersions(int scanType) { return scanType == 1 || scanType == 3; }

}  // namespace

void CIntegrityScanThread::SetAttributeHash(CSqlEntity& entity) {
    const unsigned long started = KvoCore::SystemTickCount();
    wxMemoryBuffer hash;
    {
        wxSQLite3Statement& select = *Stmt().attributeHash;
        StatementRelease release(select);
        select.Bind(1, static_cast<wxLongLong>(entity.m_entityId));
        wxSQLite3ResultSet row = select.ExecuteQuery();
        if (row.NextRow() && !row.IsNull(0)) row.GetBlob(0, hash);
    }
    // The aggregate gives NULL for no rows; an entity without attributes has
    // the digest of empty input, and an empty hash would mark the row unfinished.
    if (hash.GetDataLen() == 0) hash.AppendData(m_attributeHash.GetData(), m_attributeHash.GetDataLen());

    entity.m_attributeHash = hash;
    entity.SetAttributeNull(&entity.m_attributeHash, false);
    entity.m_whenScanned = KvoCore::TimeNowMillis();
    entity.SetAttributeNull(&entity.m_whenScanned, false);

    {
        wxSQLite3Statement& update = *Stmt().updateAttributeHash;
        StatementRelease release(update);
        update.Bind(1, hash);
        update.Bind(2, static_cast<wxLongLong>(entity.m_whenScanned));
        update.Bind(3, static_cast<wxLongLong>(entity.m_entityId));
        update.ExecuteUpdate();
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to compute and set the %s of %s %lld with key '%s'", elapsed,
                                    entity.GetAttributeName(&entity.m_attributeHash), entity.m_entityType,
                                    entity.m_entityId, entity.m_key));
}

bool CIntegrityScanThread::DoPerEntityIncrementalScanProcessing(CSqlEntity&) {
    // A baseline records without comparing and raises no events.
    if (GetScanType() == 0) return true;
    KvoCore::LogError(wxString::Format(
        "CIntegrityScanThread - version comparison of scan type %d is not available in %s integrity scan thread.",
        GetScanType(), GetThreadName()));
    return false;
}

bool CIntegrityScanThread::OnResetSupersededBy() {
    if (ComparesVersions(GetScanType())) return StepNotAvailable(StepResetSupersededBy, __func__);
    SetNextStep(StepMatchEntities);
    return true;
}

bool CIntegrityScanThread::OnScanPostProcessing() {
    if (ComparesVersions(GetScanType())) return StepNotAvailable(StepScanPostProcessing, __func__);
    // Real-time change processing settles each entity as it goes.
    if (GetScanType() == 0) DeprecateEntitiesBeforeBaseline();
    SetNextStep(StepFinished);
    return true;
}

void CIntegrityScanThread::DeprecateEntitiesBeforeBaseline() {
    const CSqlEntity entity;
    const wxString supercededBy = entity.GetAttributeName(&entity.m_supercededBy);
    const wxString type = GetEntityType();
    KVO_SCANNER_TRACE("Setting %s column to -1 in old %s entity records.", supercededBy, type);
    const unsigned long started = KvoCore::SystemTickCount();
    const wxString where = wxString::Format(
        "[%s]='%s' %s AND [%s] ISNULL AND [%s]<%lld", entity.GetAttributeName(&entity.m_entityType), type,
        ScopeFilters(entity.GetAttributeName(&entity.m_entitySetId), entity.GetAttributeName(&entity.m_integrityRuleId)),
        supercededBy, entity.GetAttributeName(&entity.m_entityId), m_highestEntityIdAtStartOfScan);
    m_db->Begin();
    m_inTransaction = true;
    const int rows = CSystemIntegrityThread::MarkExistingEntitiesAsDeprecated(*m_db, where);
    m_db->Commit();
    m_inTransaction = false;
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to set the %s column to -1 in %d old %s entity records", elapsed,
                                    supercededBy, rows, type));
}

}  // namespace KvoPluginIm
