// CSystemIntegrityThread: storing the includes and excludes of an entity set
// with their patterns (translated from globs) and features.
#include "core/SqliteDatabase.h"
#include "plugins/im/IncludeOrExclude.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlFeature.h"
#include "plugins/im/SqlIncludeExclude.h"
#include "plugins/im/SqlPattern.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/GlobTranslator.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

namespace {

// Values of the caseSensitive columns.
enum CaseRule { IgnoreCase = 0, ExactCase = 1, HostFileNameCase = 2 };

CaseRule CaseRuleOf(const wxString& caseSensitiveText) {
    if (caseSensitiveText.IsSameAs(wxT("false"), false)) return IgnoreCase;
    if (caseSensitiveText.IsSameAs(wxT("true"), false)) return ExactCase;
    return HostFileNameCase;
}

// Texts compared without case are stored lower-cased, so matching lower-cases only the key.
wxString StoredText(const wxString& text, CaseRule rule) { return rule == IgnoreCase ? text.Lower() : text; }

}  // namespace

void CSystemIntegrityThread::PopulateIncludeExcludes(const CIntegrityRule& rule, const CSqlEntitySet& record,
                                                     const KvoCore::XMLObjectList& list, bool exclude) {
    const wxString name = KvoCore::ReplaceBars(rule.GetName());
    const bool hierarchical = record.HasHierarchicalNames();
    for (const KvoCore::XMLObject* member : list.Children()) {
        const auto& element = static_cast<const CIncludeOrExclude&>(*member);
        if (!element.GetUnrecognisedFeatures().empty())
            ReportRuleProblem(8007, wxString::Format("%d|%s|%s|%s", rule.GetId(), name, record.GetElementName(),
                                                     KvoCore::ReplaceBars(KvoCore::toList(element.GetUnrecognisedFeatures()))));
        if (!element.GetUnsupportedFeatures().empty())
            ReportRuleProblem(8008, wxString::Format("%d|%s|%s|%s", rule.GetId(), name, record.GetElementName(),
                                                     KvoCore::ReplaceBars(KvoCore::toList(element.GetUnsupportedFeatures()))));

        CSqlIncludeExclude row;
        row.m_entityType = record.GetEntityType();
        row.m_entitySetId = record.m_entitySetId;
        row.m_exclude = exclude;
        row.SetAttributeNull(&row.m_entityType, false);
        row.SetAttributeNull(&row.m_entitySetId, false);
        row.SetAttributeNull(&row.m_exclude, false);
        row.SQLInsert(*m_db);

        const wxString& caseSensitive = element.GetCaseSensitive();
        if (!element.GetKey().empty())
            PopulatePattern(row.m_includeExcludeId, element.GetKey(), caseSensitive, hierarchical);
        for (const KvoCore::XMLObject* key : element.GetKeys().Children())
            PopulatePattern(row.m_includeExcludeId, static_cast<const CKey&>(*key).GetPattern(), caseSensitive,
                            hierarchical);
        for (const auto& feature : element.GetFeatures())
            PopulateFeature(row.m_includeExcludeId, feature.first, feature.second, caseSensitive);
    }
}

void CSystemIntegrityThread::PopulatePattern(long long includeExcludeId, const wxString& pattern,
                                             const wxString& caseSensitiveText, bool hierarchical) {
    const CaseRule caseRule = CaseRuleOf(caseSensitiveText);
    CSqlPattern row;
    row.m_includeExcludeId = includeExcludeId;
    row.m_pattern = StoredText(pattern, caseRule);
    // Translated as written: the expression is compiled ignoring case where it must.
    row.m_regExPattern = PatternToRegEx(pattern, wxPATH_UNIX, false, hierarchical);
    row.m_caseSensitive = caseRule;
    row.SetAttributeNull(&row.m_includeExcludeId, false);
    row.SetAttributeNull(&row.m_pattern, false);
    row.SetAttributeNull(&row.m_regExPattern, false);
    row.SetAttributeNull(&row.m_caseSensitive, false);
    row.SQLInsert(*m_db);
}

void CSystemIntegrityThread::PopulateFeature(long long includeExcludeId, const wxString& name,
                                             const wxString& value, const wxString& caseSensitiveText) {
    const CaseRule caseRule = CaseRuleOf(caseSensitiveText);
    CSqlFeature row;
    row.m_includeExcludeId = includeExcludeId;
    row.m_name = name;
    row.m_value = StoredText(value, caseRule);
    row.m_caseSensitive = caseRule;
    row.SetAttributeNull(&row.m_includeExcludeId, false);
    row.SetAttributeNull(&row.m_name, false);
    row.SetAttributeNull(&row.m_value, false);
    row.SetAttributeNull(&row.m_caseSensitive, false);
    row.SQLInsert(*m_db);
}

wxString CSystemIntegrityThread::PatternToRegEx(const wxString& pattern, wxPathFormat splitFormat,
                                                bool matchDescendants, bool hierarchical) const {
    const CGlobTranslator translator(CIntegrityScanThread::GetPathFormat(m_dom));
    return translator.Translate(pattern, splitFormat, matchDescendants, hierarchical);
}

}  // namespace KvoPluginIm
