// CSystemIntegrityThread: processing a configuration change. Rules whose stored
// rows still describe them keep their rows and entity versions; the others are
// retired and stored again, and the next baseline scan covers only them. The
// rule-name table of the statistics is rebuilt from the stored rules after it.
#include <unordered_map>

#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/RuleLint.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kRulesPath = wxT("/SecurityConfiguration/IntegrityRules");
const wxChar* const kSupercededBy = wxT("supercededBy");
const wxChar* const kIntegrityRuleId = wxT("integrityRuleId");
const unsigned long kRulesStatsMinMsec = 100;

unsigned long MsecSince(unsigned long startTick) {
    return static_cast<unsigned int>(KvoCore::SystemTickCount() - startTick);
}

}  // namespace

bool CSystemIntegrityThread::EnsureDbOpen() {
    if (m_db && m_db->IsOpenDb()) return true;
    if (OpenSystemIntegrityDb()) return true;
    KvoCore::LogError("Integrity rules cannot be processed: the integrity database cannot be opened");
    return false;
}

void CSystemIntegrityThread::OnRulesChanged() {
    wxString oldMapping = m_contentShortHandMapping;
    KVO_TRACE(s_Trace, "OnRulesChanged()");
    UpdateSettingsFromConfig();
    m_incrementalRuleIds.clear();
    if (m_dom.ConfigIsEmpty()) {
        OnDeactivated();
        return;
    }
    if (oldMapping.empty()) oldMapping = wxT("sha1");
    const bool mappingChanged = m_contentShortHandMapping != oldMapping;
    if (!EnsureDbOpen()) {
        m_dom.Set(Keys::kRulesChanged, true);
        return;
    }

    CIntegrityRules configured;
    if (!m_dom.ConfigGetXml(kRulesPath, configured)) {
        // The configuration in force always parses as XML, so this is a rule the
        // model rejects; retiring every stored rule for it would throw the baseline away.
        KVO_TRACE(s_Trace, "Error parsing integrity rules");
        KvoCore::LogWarning("The integrity rules of the configuration cannot be read; the stored rules stay in force");
        AfterRulesCommitted(false);
        return;
    }

    const unsigned long startTick = KvoCore::SystemTickCount();
    bool hadBaselineFlag = false;
    m_dom.Get(Keys::kNeedRebuildBaseline, hadBaselineFlag);
    try {
        KvoCore::CSqliteTransaction transaction(*m_db);
        CSqlIntegrityRules stored;
        stored.SQLLoad(*m_db);
        KvoCore::Int64Set unchanged;
        KvoCore::Int64Set retired;
        CompareStoredRules(stored, configured, mappingChanged, oldMapping, unchanged, retired);
        RetireEntitiesOfRules(retired);
        m_bRuleProblem = false;
        StoreConfiguredRules(configured, unchanged);
        m_lastPseudoRealtimeTick = static_cast<unsigned int>(KvoCore::SystemTickCount());
        m_pseudoRealtimeGate = -1;
        FlagRulesForBaseline(configured.size());
        transaction.Commit();
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Integrity rules could not be stored in si.db: %s", e.GetMessage()));
        m_incrementalRuleIds.clear();
        if (!hadBaselineFlag) m_dom.SetNil(Keys::kNeedRebuildBaseline);
        m_dom.Set(Keys::kRulesChanged, true);
        return;
    }
    const unsigned long elapsed = MsecSince(startTick);
    if (elapsed > kRulesStatsMinMsec)
        KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec to process integrity rule changes.",
                  static_cast<unsigned int>(elapsed));
    AfterRulesCommitted(m_bRuleProblem);
}

void CSystemIntegrityThread::CompareStoredRules(CSqlIntegrityRules& stored, const CIntegrityRules& configured,
                                                bool mappingChanged, const wxString& oldMapping,
                                                KvoCore::Int64Set& unchanged, KvoCore::Int64Set& retired) {
    std::unordered_map<int, const CIntegrityRule*> configuredById;
    for (const KvoCore::XMLObject* member : configured.Children()) {
        const auto& rule = static_cast<const CIntegrityRule&>(*member);
        configuredById.emplace(rule.GetId(), &rule);
    }
    for (size_t i = 0; i < stored.size(); ++i) {
        CSqlIntegrityRule& rule = stored.at(i);
        const auto found = configuredById.find(rule.GetId());
        const bool stillConfigured = found != configuredById.end();
        if (stillConfigured && !StoredRuleChanged(rule, *found->second, mappingChanged, oldMapping))
            unchanged.insert(rule.GetId());
        else
            RetireStoredRule(rule, stillConfigured, retired);
    }
}

bool CSystemIntegrityThread::StoredRuleChanged(const CSqlIntegrityRule& stored, const CIntegrityRule& configured,
                                               bool mappingChanged, const wxString& oldMapping) const {
    if (RuleHeaderDiffers(stored, configured)) {
        KVO_TRACE(s_Trace, "Rule %d changed: hash %s:%s, onChange %d:%d, ident %s:%s, severity %d:%d, name %s:%s",
                  stored.GetId(), stored.GetHash(), configured.GetHash(), static_cast<int>(stored.GetAllowOnChange()),
                  static_cast<int>(configured.GetAllowOnChange()), stored.GetIdentifier(), configured.GetIdentifier(),
                  stored.GetSeverity(), configured.GetSeverity(), stored.GetName(), configured.GetName());
        return true;
    }
    if (RuleExpansionDiffers(configured)) {
        KVO_TRACE(s_Trace, "Rule %d changed: environment/registry variable expansion is different", stored.GetId());
        return true;
    }
    if (mappingChanged && RuleHashesDiffer(configured, oldMapping, m_contentShortHandMapping)) {
        KVO_TRACE(s_Trace, "Rule %d changed: content hashes are different", stored.GetId());
        return true;
    }
    return false;
}

void CSystemIntegrityThread::RetireStoredRule(CSqlIntegrityRule& stored, bool stillConfigured,
                                              KvoCore::Int64Set& retired) {
    const int id = stored.GetId();
    retired.insert(id);
    trackDeletedRuleStat(stored.GetName(), id);
    // The schema's triggers delete the rule's sets, includes, patterns and
    // features with it, so scanners never read rows of an older storing.
    stored.SQLDelete(*m_db);
    if (m_dom.GetWxString("uuid").empty()) DeleteName(id);
    if (stillConfigured) m_incrementalRuleIds.insert(id);
}

void CSystemIntegrityThread::RetireEntitiesOfRules(const KvoCore::Int64Set& retired) {
    if (retired.empty()) return;
    const wxString ids = KvoCore::toList(retired, wxT(','), true);
    KVO_TRACE(s_Trace, "Setting %s column to -1 in old entity records for rules %s.", kSupercededBy, ids);
    const unsigned long startTick = KvoCore::SystemTickCount();
    const int rows = MarkExistingEntitiesAsDeprecated(
        *m_db, wxString::Format("[%s] ISNULL AND [%s] IN %s", kSupercededBy, kIntegrityRuleId, ids));
    const unsigned long elapsed = MsecSince(startTick);
    if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
        KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec to set the %s column to -1 in %d old entity records",
                  static_cast<unsigned int>(elapsed), kSupercededBy, rows);
}

void CSystemIntegrityThread::StoreConfiguredRules(const CIntegrityRules& configured,
                                                  const KvoCore::Int64Set& unchanged) {
    KvoCore::Int64Set storedNow;
    for (const KvoCore::XMLObject* member : configured.Children()) {
        const auto& rule = static_cast<const CIntegrityRule&>(*member);
        ReportDeprecatedHashes(rule);
        if (unchanged.count(rule.GetId()) > 0) continue;
        if (!storedNow.insert(rule.GetId()).second) {
            // A second row under the same id would fail the whole pass, every time.
            KvoCore::LogWarning(wxString::Format(
                "Integrity rule id %d is used more than once in the configuration; only its first rule is stored",
                rule.GetId()));
            continue;
        }
        CRuleLint::LogFindings(m_dom, *this, rule.GetId());
        AddRuleToDb(rule);
        m_incrementalRuleIds.insert(rule.GetId());
    }
}

void CSystemIntegrityThread::ReportDeprecatedHashes(const CIntegrityRule& rule) {
    if (!RuleHashesScan(rule)) return;
    KVO_TRACE(s_Trace, "Rule %d: %s has deprecated hash method.", rule.GetId(), rule.GetName());
    m_dom.DoAgentEventWrite(IsFipsModeEnabled() ? 8018 : 8017, "%d|%s", rule.GetId(),
                            KvoCore::ReplaceBars(rule.GetName()));
}

void CSystemIntegrityThread::FlagRulesForBaseline(size_t configuredRules) {
    if (m_incrementalRuleIds.empty()) return;
    KVO_TRACE(s_Trace, "Need to Rebuild Baseline due to rules changed");
    m_dom.Set(Keys::kNeedRebuildBaseline, true);
    // Every rule is new or changed: one baseline of everything, not a list of all rules.
    if (m_incrementalRuleIds.size() == configuredRules) m_incrementalRuleIds.clear();
}

void CSystemIntegrityThread::AfterRulesCommitted(bool ruleProblem) {
    // Reports the rule events to the server at once.
    if (ruleProblem) m_dom.ConditionRaise(KvoCore::Keys::kHeartbeatNow);
    if (m_dom.GetWxString("uuid").empty()) GetNames(m_dom);
    m_dom.SetNil(Keys::kRulesChanged);
    m_dom.ConditionRaise(Keys::kConfigProcessed);
    ClearRTIMMisses();
}

void CSystemIntegrityThread::GetNames(KvoCore::CDom& dom) {
    ClearRuleIDandNameMap();
    KvoCore::CSqliteDatabase db(dom, s_Trace);
    if (!db.OpenIntegrityDb(dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadWrite)) return;
    try {
        wxSQLite3ResultSet rows = db.ExecuteQuery(wxT("SELECT * FROM IntegrityRules;"));
        while (rows.NextRow()) {
            const wxString identifier = rows.GetString(wxT("identifier"));
            const wxString name = rows.GetString(wxT("name"));
            AddRuleIDandName(rows.GetInt(wxT("integrityRuleId")),
                             identifier.empty() ? name : identifier + wxT(" - ") + name);
        }
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("getNames() error accessing si.db: %s", e.GetMessage()));
    }
    db.Close();
}

}  // namespace KvoPluginIm
