#include "plugins/im/tool/RuleProblems.h"

#include <algorithm>

#include "plugins/im/IncludeOrExclude.h"

namespace KvoPluginIm {

namespace {

std::vector<wxString> SortedNames(const KvoCore::WxStringSet& names) {
    std::vector<wxString> sorted(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

}  // namespace

CRuleProblems::CRuleProblems(const CIntegrityRule& rule) : m_rule(rule) {
    rule.ForEachEntitySet([this](const CEntitySet& set) { ++m_kindCounts[set.GetElementName()]; });
    std::map<wxString, int> seen;
    rule.ForEachEntitySet([this, &seen](const CEntitySet& set) { AddSetProblems(set, NameOf(set, seen)); });
    AddEach(wxT("unsupported %s"), rule.GetUnsupportedChildren(), wxString());
    AddEach(wxT("unknown element %s"), rule.GetUnrecognisedChildren(), wxString());
}

wxString CRuleProblems::NameOf(const CEntitySet& set, std::map<wxString, int>& seen) const {
    const wxString kind = set.GetElementName();
    const int number = ++seen[kind];
    if (m_kindCounts.at(kind) == 1) return kind;
    return wxString::Format(wxT("%s #%d"), kind, number);
}

void CRuleProblems::AddSetProblems(const CEntitySet& set, const wxString& where) {
    AddEach(wxT("unknown attribute %s on %s"), set.GetUnrecognisedAttributes(), where);
    AddEach(wxT("unsupported attribute %s in %s"), set.GetAttributes().GetUnsupported(), where);
    AddEach(wxT("unknown attribute %s in %s"), set.GetAttributes().GetUnrecognised(), where);
    AddFeatureProblems(set.GetIncludes(), where + wxT(" Include"));
    AddFeatureProblems(set.GetExcludes(), where + wxT(" Exclude"));
}

void CRuleProblems::AddFeatureProblems(const KvoCore::XMLObjectList& list, const wxString& where) {
    for (const KvoCore::XMLObject* member : list.Children()) {
        const auto* element = dynamic_cast<const CIncludeOrExclude*>(member);
        if (element == nullptr) continue;
        AddEach(wxT("unsupported feature %s in %s"), element->GetUnsupportedFeatures(), where);
        AddEach(wxT("unknown feature %s in %s"), element->GetUnrecognisedFeatures(), where);
    }
}

void CRuleProblems::AddEach(const wxString& format, const KvoCore::WxStringSet& names,
                            const wxString& where) {
    for (const wxString& name : SortedNames(names))
        m_problems.push_back(where.empty() ? wxString::Format(format, name)
                                           : wxString::Format(format, name, where));
}

wxString CRuleProblems::Summary() const {
    wxString summary = wxString::Format(wxT("rule %d \"%s\": "), m_rule.GetId(), m_rule.GetName());
    if (Accepted()) return summary + wxT("accepted");
    for (size_t i = 0; i < m_problems.size(); ++i) summary += (i > 0 ? wxT("; ") : wxT("")) + m_problems[i];
    return summary;
}

}  // namespace KvoPluginIm
