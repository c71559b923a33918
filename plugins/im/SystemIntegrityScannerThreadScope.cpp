// CIntegrityScanThread: what a scan covers (scan type, entity sets, rules)
// and the matching step over the entity sets in scope.
#include <wx/wxsqlite3.h>

#include <algorithm>
#include <memory>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/XMLObjectList.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"
#include "plugins/im/SqlIncludeExcludePattern.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlScanEntitySetId.h"
#include "plugins/im/SqlScanIntegrityRuleId.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"
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

wxString CIntegrityScanThread::ScopeFilters(const wxString& entitySetIdColumn, const wxString& ruleIdColumn) const {
    auto filter = [](const wxString& column, const KvoCore::Int64Set& ids) {
        return ids.empty() ? wxString() : wxString::Format("AND [%s] IN %s", column, KvoCore::toList(ids, ',', true));
    };
    return filter(entitySetIdColumn, m_entitySetIdsInScope) + " " + filter(ruleIdColumn, m_ruleIdsInScope);
}

void CIntegrityScanThread::LoadEntitySetsInScope(KvoCore::XMLObjectList& sets) {
    const std::unique_ptr<CSqlEntitySet> set(CreateEntitySetObject());
    const wxString setIdColumn = set->GetAttributeName(&set->m_entitySetId);
    wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
        "SELECT * FROM [%s] WHERE 1=1 %s ORDER BY [%s];", sets.GetElementName(),
        ScopeFilters(setIdColumn, set->GetAttributeName(&set->m_integrityRuleId)), setIdColumn));
    sets.SQLLoad(rows);
}

bool CIntegrityScanThread::OnMatchEntities() {
    const std::unique_ptr<CSqlEntitySet> prototype(CreateEntitySetObject());
    const std::unique_ptr<KvoCore::XMLObjectList> sets(CreateEntitySetCollection());
    if (!prototype || !sets) return false;
    LoadEntitySetsInScope(*sets);
    for (const KvoCore::XMLObject* set : sets->Children()) {
        if (ShouldShutdown()) return true;
        if (!MatchEntitySet(*sets, static_cast<const CSqlEntitySet&>(*set))) return false;
    }
    if (ShouldShutdown()) return true;
    SetNextStep(StepGatherAttributeValues);
    return true;
}

bool CIntegrityScanThread::MatchEntitySet(const KvoCore::XMLObjectList& sets, const CSqlEntitySet& set) {
    const wxString type = GetEntityType();
    CSqlIncludeExcludeFeatures features;
    CSqlIncludeExcludePatterns patterns;
    if (!CSystemIntegrityKeyMatch::GetFeatures(*m_db, type, set.m_entitySetId, features) ||
        !CSystemIntegrityKeyMatch::GetPatterns(*m_db, type, set.m_entitySetId, patterns))
        return false;
    CSqlIntegrityRule rule;
    if (!GetIntegrityRule(*m_db, set.m_integrityRuleId, rule)) {
        // Rule storage writes a rule before its sets and removes them with it:
        // a set without its rule is left over from a damaged store, and its
        // entities would carry a rule nobody can look up.
        KvoCore::LogError(wxString::Format("CIntegrityScanThread - %s entity set %lld names integrity rule %lld, "
                                           "which is not stored; its keys are not matched.",
                                           type, set.m_entitySetId, set.m_integrityRuleId));
        return true;
    }
    KvoCore::Int64Set includeExcludeIds;
    CSystemIntegrityKeyMatch::GetUniqueIncludeExcludeIds(features, patterns, includeExcludeIds);
    const int maxDepth = CSystemIntegrityKeyMatch::MaxKeyPathDepth(patterns);
    return MatchSet(&sets, &set, features, patterns, rule, static_cast<unsigned long>(maxDepth), includeExcludeIds);
}

int CIntegrityScanThread::CompareCheckpointInfoToEntity(int step, const CSqlEntitySet& set, const wxString& key) {
    if (step != StepMatchEntities) return 0;
    const wxString& checkpoint = m_subscan->m_checkpointInfo;
    if (checkpoint.empty()) return -1;
    // The leading decimal number is the entity set the checkpoint was taken in.
    size_t digits = 0;
    while (digits < checkpoint.length() && wxIsdigit(checkpoint[digits])) ++digits;
    long long checkpointSetId = 0;
    if (!checkpoint.Left(digits).ToLongLong(&checkpointSetId) || checkpointSetId < 1) return 0;
    if (checkpointSetId != set.m_entitySetId) return static_cast<int>(checkpointSetId - set.m_entitySetId);
    const int colon = checkpoint.Find(':');
    if (colon == wxNOT_FOUND) return 0;
    return GetKeyMatcher()->CompareKeys(checkpoint.Mid(colon + 1), key);
}

void CIntegrityScanThread::SortKeys(wxArrayString& keys) const {
    if (keys.size() < 2) return;
    // The order of checkpoints: a walk that resumes skips what sorts before it.
    const CSystemIntegrityKeyMatch* matcher = GetKeyMatcher();
    std::sort(keys.begin(), keys.end(),
              [matcher](const wxString& a, const wxString& b) { return matcher->CompareKeys(a, b) < 0; });
    keys.Shrink();
}

bool CIntegrityScanThread::ShouldDescend(const CSqlIncludeExcludeFeatures& features,
                                         const CSqlIncludeExcludePatterns& patterns,
                                         const KvoCore::Int64Set& includeExcludeIds, const wxString& searchBase,
                                         const wxString& key) const {
    return GetKeyMatcher()->ShouldDescend(features, patterns, includeExcludeIds, searchBase, key);
}

}  // namespace KvoPluginIm
