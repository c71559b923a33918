// CPlanCommand: `kvo-rules rules --plan`: runs the control loop's rule
// processing on a scratch copy of the integrity database and prints what it
// stored, retired and flagged for a baseline, and the agent events it wrote.
//
// The agent object must have been created on the scratch work directory, with
// Keys::kDbPath naming the scratch copy, so that nothing the processing writes
// (database, agent events, log) lands beside the real agent.
#pragma once

#include <map>
#include <set>
#include <vector>

#include <wx/string.h>

#include "core/Dom.h"

class wxSQLite3Database;

namespace KvoPluginIm {

class CPlanCommand {
public:
    explicit CPlanCommand(KvoCore::CDom& dom) : m_dom(dom) {}

    // Processes the configured rules as the control loop does after a
    // configuration change; false, with the reason, when that failed.
    bool Run(wxString& error);
    void Print() const;

private:
    std::map<int, wxString> StoredRules() const;
    void PrintRule(wxSQLite3Database& db, int ruleId, const wxString& name) const;
    void PrintSets(wxSQLite3Database& db, int ruleId) const;
    void PrintIncludesAndExcludes(wxSQLite3Database& db, long long setId, const wxString& entityType) const;
    static wxString RuleList(const std::set<int>& ids);

    KvoCore::CDom& m_dom;
    std::map<int, wxString> m_after;  // rule id -> name, as stored by the run
    std::set<int> m_retired;
    std::set<int> m_needBaseline;
    std::set<int> m_stored;  // written by the run (new or changed)
};

}  // namespace KvoPluginIm
