// CSystemIntegrityThread: the configuration's effect at start-up and when it
// becomes empty.
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlScan.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kRulesPath = wxT("/SecurityConfiguration/IntegrityRules");

const CIntegrityRule* FindRule(const CIntegrityRules& rules, int id) {
    for (const KvoCore::XMLObject* member : rules.Children()) {
        const auto& rule = static_cast<const CIntegrityRule&>(*member);
        if (rule.GetId() == id) return &rule;
    }
    return nullptr;
}

}  // namespace

void CSystemIntegrityThread::OnStartupConfigCheck() {
    KVO_TRACE(s_Trace, "OnStartupConfigCheck()");
    if (m_dom.ConfigIsEmpty()) {
        OnDeactivated();
        return;
    }
    if (!EnsureDbOpen()) return;
    CSqlIntegrityRules stored;
    try {
        stored.SQLLoad(*m_db);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Accessing si.db: %s", e.GetMessage()));
        return;
    }
    CIntegrityRules configured;
    if (!m_dom.ConfigGetXml(kRulesPath, configured)) {
        KVO_TRACE(s_Trace, "Error parsing integrity rules");
        return;
    }
    bool changed = stored.size() != configured.size();
    for (size_t i = 0; i < stored.size() && !changed; ++i) {
        const CIntegrityRule* rule = FindRule(configured, stored.at(i).GetId());
        changed = rule == nullptr || RuleHeaderDiffers(stored.at(i), *rule);
    }
    if (changed) m_dom.Set(Keys::kRulesChanged, true);
}

void CSystemIntegrityThread::OnDeactivated() {
    KVO_TRACE(s_Trace, "OnDeactivated()");
    StopScannerThreads();
    DeleteScannersWaiting();
    m_incrementalRuleIds.clear();
    m_dom.SetNil(Keys::kNeedIncrementalScan);
    m_dom.SetNil(Keys::kNeedPseudoRealtimeScan);
    m_dom.SetNil(Keys::kNeedRebuildBaseline);
    if (EnsureDbOpen()) {
        try {
            KvoCore::CSqliteTransaction transaction(*m_db);
            const int deleted = m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%ss];", CSqlEntity::ElementName()));
            IncEntitiesDeletedCount(deleted);
            // Deleting the rules deletes their sets, includes, patterns and features (schema triggers).
            m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%ss]; DELETE FROM [%ss]; DELETE FROM [%ss];",
                                                 CSqlScan::ElementName(), CSqlIntegrityRule::ElementName(),
                                                 CSqlIntegrityEvent::ElementName()));
            transaction.Commit();
            m_db->Vacuum();
        } catch (const wxSQLite3Exception& e) {
            KvoCore::LogError(wxString::Format("Accessing si.db: %s", e.GetMessage()));
        }
    }
    m_dom.ConditionRaise(Keys::kConfigProcessed);
}

}  // namespace KvoPluginIm
