#include "plugins/im/tool/PlanCommand.h"

#include <wx/ffile.h>
#include <wx/wxsqlite3.h>

#include <cstdio>

#include "core/SqliteDatabase.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

namespace {

struct SetTable {
    const wxChar* table;
    const wxChar* element;
    const wxChar* entityType;
    bool hierarchical;
};

const SetTable kSetTables[] = {
    {wxT("FileSets"), wxT("FileSet"), wxT("File"), true},
    {wxT("DirectorySets"), wxT("DirectorySet"), wxT("Directory"), true},
    {wxT("GroupSets"), wxT("GroupSet"), wxT("Group"), false},
    {wxT("InstalledSoftwareSets"), wxT("InstalledSoftwareSet"), wxT("InstalledSoftware"), false},
    {wxT("PortSets"), wxT("PortSet"), wxT("Port"), false},
    {wxT("ProcessSets"), wxT("ProcessSet"), wxT("Process"), false},
    {wxT("UserSets"), wxT("UserSet"), wxT("User"), false},
};

const char* const kTrace = Keys::kTraceImThread;

void Out(const wxString& text) { printf("%s\n", text.utf8_str().data()); }

wxString Quoted(wxSQLite3ResultSet& row, const wxChar* column) {
    return row.IsNull(column) ? wxString(wxT("(none)")) : wxT("\"") + row.GetString(column) + wxT("\"");
}

// "lastModified, sha256": the monitor columns that are set, by attribute name.
wxString Monitored(wxSQLite3ResultSet& row) {
    wxString names;
    for (int column = 0; column < row.GetColumnCount(); ++column) {
        wxString name = row.GetColumnName(column);
        if (!name.StartsWith(wxT("monitor"), &name) || row.GetInt(column) == 0) continue;
        name[0] = wxTolower(name[0]);
        names += (names.empty() ? wxT("") : wxT(", ")) + name;
    }
    return names.empty() ? wxString(wxT("nothing")) : names;
}

}  // namespace

std::map<int, wxString> CPlanCommand::StoredRules() const {
    std::map<int, wxString> rules;
    KvoCore::CSqliteDatabase db(m_dom, kTrace);
    if (!db.OpenIntegrityDb(m_dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadWrite)) return rules;
    wxSQLite3ResultSet rows = db.ExecuteQuery(wxT("SELECT [integrityRuleId],[name] FROM [IntegrityRules];"));
    while (rows.NextRow()) rules[rows.GetInt(0)] = rows.GetString(1);
    rows.Finalize();
    db.Close();
    return rules;
}

bool CPlanCommand::Run(wxString& error) {
    std::map<int, wxString> before;
    try {
        before = StoredRules();
    } catch (const wxSQLite3Exception& e) {
        error = wxString::Format("the integrity database cannot be read: %s", e.GetMessage());
        return false;
    }
    CSystemIntegrityThread thread;
    if (!thread.OpenSystemIntegrityDb()) {
        error = "the integrity database cannot be opened";
        return false;
    }
    thread.OnRulesChanged();
    thread.CloseSystemIntegrityDb();
    bool failed = false;
    if (m_dom.Get(Keys::kRulesChanged, failed) && failed) {
        error = "rule processing failed (the log says why)";
        return false;
    }
    m_after = StoredRules();
    bool rebuild = false;
    const bool everyRule = m_dom.Get(Keys::kNeedRebuildBaseline, rebuild) && rebuild &&
                           thread.IncrementalRuleIds().empty();
    for (const auto& [id, name] : m_after)
        if (everyRule || thread.IncrementalRuleIds().count(id) > 0) m_needBaseline.insert(id);
    m_stored = m_needBaseline;
    // A stored rule that is gone, or that had to be stored again, was retired.
    for (const auto& [id, name] : before)
        if (m_after.count(id) == 0 || m_stored.count(id) > 0) m_retired.insert(id);
    return true;
}

void CPlanCommand::Print() const {
    KvoCore::CSqliteDatabase db(m_dom, kTrace);
    if (db.OpenIntegrityDb(m_dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadOnly)) {
        for (const auto& [id, name] : m_after) PrintRule(db, id, name);
        db.Close();
    }
    Out(wxT("retired: ") + RuleList(m_retired));
    Out(wxT("needs a baseline: ") + RuleList(m_needBaseline));
    wxFFile events(m_dom.GetWorkdirWx() + wxT("/agent-events.log"), wxT("r"));
    wxString text;
    if (events.IsOpened() && events.ReadAll(&text)) {
        text.Trim();
        if (!text.empty()) {
            text.Replace(wxT("\n"), wxT("\nagent event "));
            Out(wxT("agent event ") + text);
        }
    }
}

void CPlanCommand::PrintRule(wxSQLite3Database& db, int ruleId, const wxString& name) const {
    Out(wxString::Format(wxT("rule %d \"%s\": %s"), ruleId, name,
                         m_stored.count(ruleId) > 0 ? wxT("stored") : wxT("unchanged, kept as stored")));
    PrintSets(db, ruleId);
}

void CPlanCommand::PrintSets(wxSQLite3Database& db, int ruleId) const {
    for (const SetTable& table : kSetTables) {
        wxSQLite3ResultSet sets = db.ExecuteQuery(wxString::Format(
            wxT("SELECT * FROM [%s] WHERE [integrityRuleId]=%d ORDER BY [entitySetId];"), table.table, ruleId));
        while (sets.NextRow()) {
            const long long setId = sets.GetInt64(wxT("entitySetId")).GetValue();
            wxString line = wxString::Format(wxT("  %s %lld:"), table.element, setId);
            if (table.hierarchical)
                line += wxT(" base ") + Quoted(sets, wxT("directory")) + wxT(", search base ") +
                        Quoted(sets, wxT("directorySearchBase")) + wxT(", expression ") +
                        Quoted(sets, wxT("directoryRegEx")) + wxT(",");
            Out(line + wxString::Format(wxT(" onChange %d"), sets.GetInt(wxT("onChange"))));
            Out(wxT("    monitors ") + Monitored(sets));
            PrintIncludesAndExcludes(db, setId, table.entityType);
        }
    }
}

void CPlanCommand::PrintIncludesAndExcludes(wxSQLite3Database& db, long long setId,
                                            const wxString& entityType) const {
    wxSQLite3Statement groups = db.PrepareStatement(
        wxT("SELECT [includeExcludeId],[exclude] FROM [IncludeExcludes] WHERE [entitySetId]=?1 AND [entityType]=?2 "
            "ORDER BY [includeExcludeId];"));
    groups.Bind(1, static_cast<wxLongLong>(setId));
    groups.Bind(2, entityType);
    wxSQLite3ResultSet rows = groups.ExecuteQuery();
    while (rows.NextRow()) {
        const long long id = rows.GetInt64(0).GetValue();
        wxString line = wxString::Format(wxT("    %s %lld:"), rows.GetInt(1) ? wxT("Exclude") : wxT("Include"), id);
        wxSQLite3ResultSet patterns = db.ExecuteQuery(wxString::Format(
            wxT("SELECT * FROM [Patterns] WHERE [includeExcludeId]=%lld;"), id));
        while (patterns.NextRow())
            line += wxString::Format(wxT(" pattern %s expression %s caseSensitive %d;"), Quoted(patterns, wxT("pattern")),
                                     Quoted(patterns, wxT("regExPattern")), patterns.GetInt(wxT("caseSensitive")));
        wxSQLite3ResultSet features = db.ExecuteQuery(wxString::Format(
            wxT("SELECT * FROM [Features] WHERE [includeExcludeId]=%lld;"), id));
        while (features.NextRow())
            line += wxString::Format(wxT(" feature %s=%s;"), features.GetString(wxT("name")), Quoted(features, wxT("value")));
        Out(line.EndsWith(wxT(":")) ? line + wxT(" no pattern, no feature") : line.RemoveLast());
    }
}

wxString CPlanCommand::RuleList(const std::set<int>& ids) {
    if (ids.empty()) return wxT("none");
    wxString list;
    for (int id : ids) list += wxString::Format(wxT("%s %d"), list.empty() ? wxT("") : wxT(","), id);
    return (ids.size() == 1 ? wxT("rule") : wxT("rules")) + list;
}

}  // namespace KvoPluginIm
