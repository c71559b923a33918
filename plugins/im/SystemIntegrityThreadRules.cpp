// CSystemIntegrityThread: storing a configured rule as rows of si.db (the rule
// row, its entity sets and their monitor columns). Scanners and matching read
// only these rows, never the rule XML.
#include <unordered_map>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlGroupEntitySet.h"
#include "plugins/im/SqlInstalledSoftwareEntitySet.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlPortEntitySet.h"
#include "plugins/im/SqlProcessEntitySet.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kMonitorPrefix = wxT("monitor");

KvoCore::WxStringSet MonitoredNames(const CEntitySet& set) {
    KvoCore::WxStringSet names;
    set.GetAttributes().GetAttributesToMonitor(names);
    return names;
}

}  // namespace

void CSystemIntegrityThread::ReportRuleProblem(int id, const wxString& text) const {
    // Copies of the agent object share the agent; the copy lets a const member write.
    KvoCore::CDom agent(m_dom);
    agent.AgentEventWrite(id, text);
    m_bRuleProblem = true;
}

void CSystemIntegrityThread::AddRuleToDb(const CIntegrityRule& rule) {
    KVO_TRACE(s_Trace, "AddRuleToDb(ruleId=%d)", rule.GetId());
    CSqlIntegrityRule row;
    if (!row.AssignFrom(rule))
        KvoCore::LogWarning(wxString::Format("Rule %d: not every rule attribute could be stored", rule.GetId()));
    untrackDeletedRuleStat(rule.GetName(), rule.GetId());
    row.SQLInsert(*m_db);

    const wxString name = KvoCore::ReplaceBars(rule.GetName());
    if (!rule.GetUnrecognisedChildren().empty())
        ReportRuleProblem(8005, wxString::Format("%d|%s|%s", rule.GetId(), name,
                                                 KvoCore::ReplaceBars(KvoCore::toList(rule.GetUnrecognisedChildren()))));
    if (!rule.GetUnsupportedChildren().empty())
        ReportRuleProblem(8006, wxString::Format("%d|%s|%s", rule.GetId(), name,
                                                 KvoCore::ReplaceBars(KvoCore::toList(rule.GetUnsupportedChildren()))));

    StoreSets<CFileSet, CSqlFileEntitySet>(rule, rule.GetFileSets());
    // A VM-safe guest hands file scans to an external scanner and scans nothing else.
    if (m_bVmSafeGuest) return;
    StoreSets<CDirSet, CSqlDirectoryEntitySet>(rule, rule.GetDirSets());
    StoreSets<CGroupSet, CSqlGroupEntitySet>(rule, rule.GetGroupSets());
    StoreSets<CInstalledSoftwareSet, CSqlInstalledSoftwareEntitySet>(rule, rule.GetInstalledSoftwareSets());
    StoreSets<CPortSet, CSqlPortEntitySet>(rule, rule.GetPortSets());
    StoreSets<CProcessSet, CSqlProcessEntitySet>(rule, rule.GetProcessSets());
    StoreSets<CUserSet, CSqlUserEntitySet>(rule, rule.GetUserSets());
}

template <typename TSet, typename TRecord>
void CSystemIntegrityThread::StoreSets(const CIntegrityRule& rule, const KvoCore::XMLObjectList& sets) {
    for (const KvoCore::XMLObject* member : sets.Children()) {
        TRecord record;
        PopulateEntitySet(rule, static_cast<const TSet&>(*member), record);
    }
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CEntitySet& set,
                                               CSqlEntitySet& record) {
    record.m_integrityRuleId = rule.GetId();
    record.SetAttributeNull(&record.m_integrityRuleId, false);
    record.m_onChange = set.GetOnChange() && rule.GetAllowOnChange();
    record.SetAttributeNull(&record.m_onChange, false);
    record.SQLInsert(*m_db);
    PopulateIncludeExcludes(rule, record, set.GetIncludes(), false);
    PopulateIncludeExcludes(rule, record, set.GetExcludes(), true);
    ReportSetProblems(rule, set);
    return true;
}

void CSystemIntegrityThread::ReportSetProblems(const CIntegrityRule& rule, const CEntitySet& set) {
    const wxString name = KvoCore::ReplaceBars(rule.GetName());
    const wxString element = set.GetElementName();
    const struct {
        int id;
        const KvoCore::WxStringSet& names;
    } problems[] = {
        {8009, set.GetAttributes().GetUnrecognised()},
        {8010, set.GetAttributes().GetUnsupported()},
        {8011, set.GetUnrecognisedAttributes()},
    };
    for (const auto& problem : problems) {
        if (problem.names.empty()) continue;
        ReportRuleProblem(problem.id, wxString::Format("%d|%s|%s|%s", rule.GetId(), name, element,
                                                       KvoCore::ReplaceBars(KvoCore::toList(problem.names))));
    }
}

void CSystemIntegrityThread::CountAndSetMonitorColumns(CSqlEntitySet& record,
                                                       const KvoCore::WxStringSet& monitored) {
    // Columns are found by name ("monitorSha256" for sha256), so every kind's
    // columns are covered by its registration alone.
    std::unordered_map<wxString, bool*> columns;
    const size_t prefixLength = wxString(kMonitorPrefix).length();
    record.EnumAttributes([&](const KvoCore::XMLObject::Attribute& attribute) {
        const wxString& name = attribute.name;
        if (attribute.type == KvoCore::XMLObject::AttributeType::Bool && name.StartsWith(kMonitorPrefix))
            columns[name.Mid(prefixLength).Lower()] = static_cast<bool*>(attribute.member);
        return true;
    });
    for (const auto& column : columns) {
        *column.second = false;
        record.SetAttributeNull(column.second, false);
    }
    const wxString entityType = record.GetEntityType();
    for (const wxString& name : monitored) {
        IncEntityAttributeMetric(entityType, name);
        const auto column = columns.find(name.Lower());
        if (column != columns.end()) *column->second = true;
    }
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CGroupSet& set,
                                               CSqlGroupEntitySet& record) {
    CountAndSetMonitorColumns(record, MonitoredNames(set));
    return PopulateEntitySet(rule, static_cast<const CEntitySet&>(set), static_cast<CSqlEntitySet&>(record));
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CInstalledSoftwareSet& set,
                                               CSqlInstalledSoftwareEntitySet& record) {
    CountAndSetMonitorColumns(record, MonitoredNames(set));
    return PopulateEntitySet(rule, static_cast<const CEntitySet&>(set), static_cast<CSqlEntitySet&>(record));
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CPortSet& set,
                                               CSqlPortEntitySet& record) {
    CountAndSetMonitorColumns(record, MonitoredNames(set));
    return PopulateEntitySet(rule, static_cast<const CEntitySet&>(set), static_cast<CSqlEntitySet&>(record));
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CProcessSet& set,
                                               CSqlProcessEntitySet& record) {
    CountAndSetMonitorColumns(record, MonitoredNames(set));
    return PopulateEntitySet(rule, static_cast<const CEntitySet&>(set), static_cast<CSqlEntitySet&>(record));
}

bool CSystemIntegrityThread::PopulateEntitySet(const CIntegrityRule& rule, const CUserSet& set,
                                               CSqlUserEntitySet& record) {
    CountAndSetMonitorColumns(record, MonitoredNames(set));
    return PopulateEntitySet(rule, static_cast<const CEntitySet&>(set), static_cast<CSqlEntitySet&>(record));
}

}  // namespace KvoPluginIm
