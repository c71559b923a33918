// CRuleProblems: what a rule author should fix in one rule: every element,
// attribute, feature and entity-set kind the rule model did not take.
//
// Each problem is one short phrase naming the item and where it stood
// ("unsupported attribute members in FileSet"); names within one kind of
// problem are sorted so that the report is stable.
#pragma once

#include <wx/string.h>

#include <map>
#include <vector>

#include "core/Utilities.h"
#include "core/XMLObjectList.h"
#include "plugins/im/IntegrityRule.h"

namespace KvoPluginIm {

class CRuleProblems {
public:
    explicit CRuleProblems(const CIntegrityRule& rule);

    bool Accepted() const { return m_problems.empty(); }
    // A problem found elsewhere (the lint), in the same phrase form.
    void Add(const wxString& problem) { m_problems.push_back(problem); }
    const std::vector<wxString>& GetProblems() const { return m_problems; }
    // `rule ID "NAME": accepted`, or the problems joined by "; ".
    wxString Summary() const;

private:
    void AddSetProblems(const CEntitySet& set, const wxString& where);
    void AddFeatureProblems(const KvoCore::XMLObjectList& list, const wxString& where);
    void AddEach(const wxString& format, const KvoCore::WxStringSet& names, const wxString& where);
    // The set's element name, numbered when the rule holds more than one of its kind.
    wxString NameOf(const CEntitySet& set, std::map<wxString, int>& seen) const;

    const CIntegrityRule& m_rule;
    std::map<wxString, int> m_kindCounts;
    std::vector<wxString> m_problems;
};

}  // namespace KvoPluginIm
