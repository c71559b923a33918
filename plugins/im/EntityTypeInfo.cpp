#include "plugins/im/EntityTypeInfo.h"

#include <wx/filename.h>
#include "plugins/im/RecordRegEx.h"
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/XMLObjectList.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SqlScanIntegrityRuleId.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"

namespace KvoPluginIm {

namespace {

const char* const kTrace = CSystemIntegrityKeyMatch::s_Trace;

}  // namespace

void CEntityTypeInfo::Init(wxSQLite3Database& db, bool onChangeOnly, bool limitToScanRuleIds) {
    KVO_TRACE(kTrace, "Init onChangeEnabled '%d' bLimitToScanRulesIdsi '%d'", onChangeOnly ? 1 : 0,
              limitToScanRuleIds ? 1 : 0);
    if (!m_entitySets) {
        KvoCore::LogError(wxT("Invalid entity sets pointer"));
        return;
    }
    m_setInfos.clear();
    m_entitySets->DeleteChildren();
    try {
        const bool loaded = m_entitySets->SQLLoad(db);
        KVO_TRACE(kTrace, "load_status '%d'", loaded ? 1 : 0);
        const KvoCore::Int64Set ruleIds = limitToScanRuleIds ? RuleIdsOfNewestScan(db) : KvoCore::Int64Set();
        for (KvoCore::XMLObject* member : m_entitySets->Children()) {
            const auto* set = dynamic_cast<const CSqlEntitySet*>(member);
            if (!set) continue;
            KVO_TRACE(kTrace, "GetOnChange'%d'", set->m_onChange ? 1 : 0);
            if (onChangeOnly && !set->m_onChange) continue;
            if (!ruleIds.empty() && ruleIds.count(set->m_integrityRuleId) == 0) continue;
            auto info = std::make_unique<CEntitySetInfo>(set);
            info->Init(db);
            m_setInfos.push_back(std::move(info));
        }
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Integrity monitoring cannot load the entity sets: %s", e.GetMessage()));
    }
}

KvoCore::Int64Set CEntityTypeInfo::RuleIdsOfNewestScan(wxSQLite3Database& db) {
    KvoCore::Int64Set ids;
    const CSqlScan scan;
    CSqlScans scans;
    wxSQLite3ResultSet newest = db.ExecuteQuery(wxString::Format(
        "SELECT * FROM [%s] ORDER BY [%s] DESC LIMIT 1;", CSqlScans::ElementName(), scan.GetAttributeName(&scan.m_scanId)));
    scans.SQLLoad(newest);
    if (scans.empty() || scans.at(0).IsAttributeNull(&scans.at(0).m_scanId)) return ids;
    const CSqlScanIntegrityRuleId row;
    wxSQLite3ResultSet rules = db.ExecuteQuery(wxString::Format(
        "SELECT [%s] FROM [%s] WHERE [%s]=%lld;", row.GetAttributeName(&row.m_integrityRuleId),
        CSqlScanIntegrityRuleIds::ElementName(), row.GetAttributeName(&row.m_scanId), scans.at(0).m_scanId));
    while (rules.NextRow()) ids.insert(rules.GetInt64(0).GetValue());
    return ids;
}

bool CEntityTypeInfo::IsIncluded(const wxString& key, unsigned long depth, KvoCore::Int64Set& matchedEntitySetIds,
                                 int& reason) const {
    KVO_TRACE(kTrace, "Testing entity '%s'", key);
    KVO_TRACE(kTrace, "m_EntitySetInfo.size() '%d'", static_cast<int>(m_setInfos.size()));
    reason = -1;
    for (const auto& info : m_setInfos)
        if (SetIncludes(*info, key, depth, reason)) matchedEntitySetIds.insert(info->GetSet()->m_entitySetId);
    return !matchedEntitySetIds.empty();
}

bool CEntityTypeInfo::IsIncluded(const wxString& key, unsigned long depth,
                                 KvoCore::Int64Set& matchedEntitySetIds) const {
    int reason = -1;
    return IsIncluded(key, depth, matchedEntitySetIds, reason);
}

bool CEntityTypeInfo::SetIncludes(const CEntitySetInfo& info, const wxString& key, unsigned long depth,
                                  int& reason) const {
    const CSqlEntitySet& set = *info.GetSet();
    const wxString separator = m_matcher->GetEntityKeySeparator();
    wxString base = set.GetSearchBase();
    const CRecordRegEx* searchRegEx = set.GetSearchRegEx();
    KVO_TRACE(kTrace, "Testing searchbase '%s'", base);
    // Kinds without a base (users, processes ...) have every key in scope.
    if (base.empty() && !searchRegEx)
        return m_matcher->EntityMatchesIncludeExcludes(key, key, depth, m_entitySets, set, info.GetFeatures(),
                                                       info.GetPatterns(), info.GetIncludeExcludeIds(), reason);
    if (!searchRegEx) {
        KVO_TRACE(kTrace, "Search RegEx is NULL");
        // Without the separator /etc would take /etcx for one of its own.
        if (!separator.empty() && !base.EndsWith(separator)) base += separator;
    }
    const wxString relative = m_matcher->GetRelativeName(base, key);
    KVO_TRACE(kTrace, "searchBase is <%s>, relativeName is <%s>", base, relative);
    if (relative.length() == key.length()) {
        wxString dir = wxFileName(key).GetPath();
        if (!separator.empty() && !dir.EndsWith(separator)) dir += separator;
        const wxString dirRelative = m_matcher->GetRelativeName(base, dir);
        KVO_TRACE(kTrace, "keyCanonicalPath %s relativeName is <%s>", dir, dirRelative);
        CSystemIntegrityKeyMatch::SetUnmatchedReason(dirRelative.length() == dir.length() ? 0 : 2, reason);
        return false;
    }
    if (searchRegEx && !searchRegEx->Matches(key)) {
        CSystemIntegrityKeyMatch::SetUnmatchedReason(0, reason);
        return false;
    }
    KVO_TRACE(kTrace, "Checkig EntityMatchesIncludeExcludes");
    return m_matcher->EntityMatchesIncludeExcludes(key, relative, depth, m_entitySets, set, info.GetFeatures(),
                                                   info.GetPatterns(), info.GetIncludeExcludeIds(), reason);
}

}  // namespace KvoPluginIm
