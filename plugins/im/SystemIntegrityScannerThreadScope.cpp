// CIntegrityScanThread: what a scan covers (scan type, entity sets, rules)
// and the matching step over the entity sets in scope.
#include <wx/wxsqlite3.h>

#include <memory>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/XMLObjectList.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlScanEntitySetId.h"
#include "plugins/im/SqlScanIntegrityRuleId.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

bool CIntegrityScanThread::OnThreadStartup() {
    m_commitIntervalMsec = 3000;
    m_entitySetIdsInScope.clear();
    m_ruleIdsInScope.clear();
    LoadRuleIdsInScope();
    if (!LoadScanType()) return false;

    const long long scanId = m_subscan->m_scanId;
    if (GetScanType() == 3) {
        const std::unique_ptr<CSqlEntitySet> set(CreateEntitySetObject());
        const std::unique_ptr<KvoCore::XMLObjectList> sets(CreateEntitySetCollection());
        if (!set || !sets) return false;
        AddEntitySetIds(wxString::Format("SELECT [%s] FROM [%s] WHERE [%s]=1;",
                                         set->GetAttributeName(&set->m_entitySetId), sets->GetElementName(),
                                         set->GetAttributeName(&set->m_onChange)));
    } else if (GetScanType() == 1) {
        const CSqlScanEntitySetId row;
        AddEntitySetIds(wxString::Format("SELECT [%s] FROM [%s] WHERE [%s]=%lld;",
                                         row.GetAttributeName(&row.m_entitySetId), CSqlScanEntitySetIds::ElementName(),
                                         row.GetAttributeName(&row.m_scanId), scanId));
    }
    return true;
}

void CIntegrityScanThread::LoadRuleIdsInScope() {
    CSqlScanIntegrityRuleIds rows;
    const CSqlScanIntegrityRuleId row;
    wxSQLite3ResultSet result = m_db->ExecuteQuery(
        wxString::Format("SELECT * FROM [%ss] WHERE [%s]=%lld;", CSqlScanIntegrityRuleId::ElementName(),
                         row.GetAttributeName(&row.m_scanId), m_subscan->m_scanId));
    rows.SQLLoad(result);
    for (size_t i = 0; i < rows.size(); ++i) m_ruleIdsInScope.insert(rows.at(i).m_integrityRuleId);
}

bool CIntegrityScanThread::LoadScanType() {
    const CSqlScan scan;
    const long long scanId = m_subscan->m_scanId;
    wxSQLite3ResultSet row = m_db->ExecuteQuery(
        wxString::Format("SELECT [%s] FROM [%ss] WHERE [%s]=%lld;", scan.GetAttributeName(&scan.m_incrementalScan),
                         CSqlScan::ElementName(), scan.GetAttributeName(&scan.m_scanId), scanId));
    if (!row.NextRow()) {
        KvoCore::LogError(wxString::Format("Unable to retrieve data for scan ID %lld;", scanId));
        return false;
    }
    m_scanType.store(row.GetInt(0));
    KVO_SCANNER_TRACE("ScanType= %d HighestEntityAtStartOfScan= %ld", GetScanType(),
                      static_cast<long>(m_highestEntityIdAtStartOfScan));
    return true;
}

void CIntegrityScanThread::AddEntitySetIds(const wxString& sql) {
    wxSQLite3ResultSet rows = m_db->ExecuteQuery(sql);
    while (rows.NextRow()) m_entitySetIdsInScope.insert(rows.GetInt64(0).GetValue());
}

void CIntegrityScanThread::LoadEntitySetsInScope(KvoCore::XMLObjectList& sets) {
    const std::unique_ptr<CSqlEntitySet> set(CreateEntitySetObject());
    const wxString setIdColumn = set->GetAttributeName(&set->m_entitySetId);
    auto filter = [](const wxString& column, const KvoCore::Int64Set& ids) {
        return ids.empty() ? wxString() : wxString::Format("AND [%s] IN %s", column, KvoCore::toList(ids, ',', true));
    };
    wxSQLite3ResultSet rows = m_db->ExecuteQuery(
        wxString::Format("SELECT * FROM [%s] WHERE 1=1 %s %s ORDER BY [%s];", sets.GetElementName(),
                         filter(setIdColumn, m_entitySetIdsInScope),
                         filter(set->GetAttributeName(&set->m_integrityRuleId), m_ruleIdsInScope), setIdColumn));
    sets.SQLLoad(rows);
}

bool CIntegrityScanThread::OnMatchEntities() {
    const std::unique_ptr<CSqlEntitySet> set(CreateEntitySetObject());
    const std::unique_ptr<KvoCore::XMLObjectList> sets(CreateEntitySetCollection());
    if (!set || !sets) return false;
    LoadEntitySetsInScope(*sets);
    if (!sets->empty()) {
        // Matching keys against a set's includes and excludes needs the key
        // matcher, which is not part of this build yet.
        KvoCore::LogError(
            wxString::Format("CIntegrityScanThread - %s integrity scan thread cannot match the keys of "
                             "its %u entity sets: no key matcher.",
                             GetThreadName(), static_cast<unsigned>(sets->size())));
        return false;
    }
    if (ShouldShutdown()) return true;
    SetNextStep(StepGatherAttributeValues);
    return true;
}

}  // namespace KvoPluginIm
