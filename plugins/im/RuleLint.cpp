#include "plugins/im/RuleLint.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/regex.h>
#include <wx/xml/xml.h>

#include <algorithm>

#include "core/Dom.h"
#include "core/Log.h"
#include "plugins/im/GlobTranslator.h"
#include "plugins/im/HostPlatform.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/RecordRegEx.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

const char* const CRuleLint::s_RulesPath = "/SecurityConfiguration/IntegrityRules";

namespace {

// Registry sets are never stored, so only file and directory sets have their
// patterns and bases judged.
struct SetKind {
    const wxChar* name;
    bool paths;
    bool windowsOnly;
};

const SetKind kSetKinds[] = {
    {wxT("DirectorySet"), true, false},     {wxT("FileSet"), true, false},
    {wxT("GroupSet"), false, false},        {wxT("InstalledSoftwareSet"), false, false},
    {wxT("PortSet"), false, false},         {wxT("ProcessSet"), false, false},
    {wxT("UserSet"), false, false},         {wxT("RegistryKeySet"), false, true},
    {wxT("RegistryValueSet"), false, true},  {wxT("ServiceSet"), false, true},
    {wxT("WQLSet"), false, true},
};

const wxChar* const kInclude = wxT("Include");
const wxChar* const kExclude = wxT("Exclude");
const wxChar* const kKey = wxT("Key");

size_t EditDistance(const wxString& a, const wxString& b) {
    std::vector<size_t> row(b.length() + 1);
    for (size_t j = 0; j <= b.length(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.length(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.length(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.length()];
}

// The known name that name was probably meant to be: the same but for case,
// or (for names long enough that it means something) two edits away.
wxString NearMiss(const wxString& name, const std::vector<wxString>& known) {
    const wxString lower = name.Lower();
    for (const wxString& candidate : known)
        if (candidate.Lower() == lower) return candidate;
    for (const wxString& candidate : known)
        if (lower.length() >= 4 && EditDistance(lower, candidate.Lower()) <= 2) return candidate;
    return wxString();
}

wxString DidYouMean(const wxString& name, const std::vector<wxString>& known) {
    const wxString near = NearMiss(name, known);
    return near.empty() ? wxString() : wxString::Format(wxT(" (did you mean %s?)"), near);
}

std::vector<const wxXmlNode*> Elements(const wxXmlNode& parent) {
    std::vector<const wxXmlNode*> elements;
    for (const wxXmlNode* child = parent.GetChildren(); child; child = child->GetNext())
        if (child->GetType() == wxXML_ELEMENT_NODE) elements.push_back(child);
    return elements;
}

// "+" and "|" that the glob translation passes on as expression operators.
wxString UnescapedOperators(const wxString& pattern) {
    wxString found;
    for (size_t i = 0; i < pattern.length(); ++i) {
        if (pattern[i] == '\\') {
            ++i;
        } else if ((pattern[i] == '+' || pattern[i] == '|') && found.Find(pattern[i]) == wxNOT_FOUND) {
            found += pattern[i];
        }
    }
    return found;
}

// Keys never end with the separator and are never empty, so an expression
// that demands either matches nothing.
bool ExpressionNeverMatchesKey(const wxString& expression, const wxString& separator) {
    return expression == wxT("^$") || expression.EndsWith(separator + wxT("$")) ||
           expression.EndsWith(separator + wxT(")*$")) || expression.EndsWith(separator + wxT(")+$"));
}

}  // namespace

CRuleLint::CRuleLint(KvoCore::CDom& dom, const CSystemIntegrityThread& thread, const wxXmlNode& rule)
    : m_dom(dom), m_thread(thread), m_rule(std::make_unique<CIntegrityRule>()) {
    wxString error;
    m_rule->FromXML(&rule, &error);
    m_ruleId = m_rule->GetId();
    m_ruleName = m_rule->GetName();
    for (const wxXmlNode* child : Elements(rule)) LintRuleChild(*child);
}

CRuleLint::~CRuleLint() = default;

int CRuleLint::ErrorCount() const {
    return static_cast<int>(std::count_if(m_findings.begin(), m_findings.end(),
                                          [](const Finding& finding) { return !finding.warning; }));
}

wxString CRuleLint::Describe(const Finding& finding) const {
    return wxString::Format(wxT("rule %d \"%s\", %s: %s"), m_ruleId, m_ruleName, finding.where, finding.text);
}

void CRuleLint::LogFindings(KvoCore::CDom& dom, const CSystemIntegrityThread& thread, int ruleId) {
    dom.ConfigVisitElement(s_RulesPath, [&](const wxXmlNode& rules) {
        for (const wxXmlNode* node : Elements(rules)) {
            long id = 0;
            if (node->GetName() != wxT("IntegrityRule") || !node->GetAttribute(wxT("id")).ToLong(&id) || id != ruleId)
                continue;
            const CRuleLint lint(dom, thread, *node);
            for (const Finding& finding : lint.GetFindings())
                KvoCore::LogWarning(wxString::Format(wxT("%s (configuration line %d)"), lint.Describe(finding),
                                                     finding.line));
            return;
        }
    });
}

void CRuleLint::Add(bool warning, const wxXmlNode& node, const wxString& where, const wxString& text) {
    m_findings.push_back({warning, node.GetLineNumber(), where, text});
}

void CRuleLint::LintRuleChild(const wxXmlNode& node) {
    const bool windows = IsWindowsHost(m_dom);
    std::vector<wxString> offered;
    for (const SetKind& kind : kSetKinds) {
        if (kind.windowsOnly && !windows) continue;
        offered.push_back(kind.name);
        if (node.GetName() == kind.name) return LintSet(node, kind.paths);
    }
    const wxString near = NearMiss(node.GetName(), offered);
    if (!near.empty())
        Add(false, node, node.GetName(),
            wxString::Format(wxT("unknown element %s, the rule ignores it (did you mean %s?)"), node.GetName(), near));
}

void CRuleLint::LintSet(const wxXmlNode& set, bool hierarchical) {
    const wxString where = set.GetName();
    LintUnknownChildren(set, where, {wxT("Operation"), kInclude, kExclude, wxT("Attributes")});
    int includes = 0;
    int excludes = 0;
    for (const wxXmlNode* child : Elements(set)) {
        const bool exclude = child->GetName() == kExclude;
        if (!exclude && child->GetName() != kInclude) continue;
        ++(exclude ? excludes : includes);
        LintIncludeOrExclude(*child, where + wxT("/") + child->GetName(), exclude, hierarchical);
    }
    if (includes == 0 && excludes > 0)
        Add(false, set, where, wxT("only Excludes: a key must match an Include, so the set matches nothing"));
    wxString base;
    if (hierarchical && set.GetAttribute(wxT("base"), &base)) LintBase(set, base);
}

void CRuleLint::LintBase(const wxXmlNode& set, const wxString& base) {
    const wxString where = set.GetName();
    wxRegEx variable(wxT("\\$\\{([^{}]+)}"), wxRE_EXTENDED);
    wxString rest = base;
    bool undefined = false;
    while (variable.Matches(rest)) {
        size_t start = 0;
        size_t length = 0;
        variable.GetMatch(&start, &length, 0);
        const wxString name = variable.GetMatch(rest, 1);
        wxString envName;
        wxString value;
        if (!name.StartsWith(wxT("env."), &envName)) {
            Add(false, set, where,
                wxString::Format(wxT("${%s} in base \"%s\" expands to nothing: only ${env.NAME} reads the "
                                     "environment"),
                                 name, base));
        } else if (!m_dom.EnvGet(IsWindowsHost(m_dom) ? envName.Upper() : envName, value)) {
            Add(true, set, where,
                wxString::Format(wxT("${%s} is not defined on this host: the set is not stored here"), name));
            undefined = true;
        }
        rest = rest.Mid(start + length);
    }
    if (undefined) return;
    CSqlDirectoryEntitySet record;
    if (!m_thread.PopulateSearchBaseInfo(*m_rule, base, true, false, record, &CSqlDirectoryEntitySet::SetDirectory,
                                         &CSqlDirectoryEntitySet::SetDirectorySearchBase,
                                         &CSqlDirectoryEntitySet::SetDirectoryRegEx)) {
        Add(false, set, where,
            wxString::Format(wxT("base \"%s\" is not an absolute directory with wildcards only in its last "
                                 "components: the set is not stored"),
                             base));
    } else if (!wxFileName::DirExists(record.m_directorySearchBase)) {
        Add(true, set, where,
            wxString::Format(wxT("search base %s does not exist on this host"), record.m_directorySearchBase));
    }
}

void CRuleLint::LintIncludeOrExclude(const wxXmlNode& node, const wxString& where, bool exclude, bool hierarchical) {
    LintUnknownChildren(node, where, {kKey});
    bool hasCondition = false;
    for (const wxXmlAttribute* attribute = node.GetAttributes(); attribute; attribute = attribute->GetNext()) {
        const wxString& name = attribute->GetName();
        if (name == wxT("caseSensitive")) continue;
        if (name != wxT("key")) {
            // Anything else is a feature; the rule model judges those.
            hasCondition = true;
            const wxString near = NearMiss(name, {wxT("key"), wxT("caseSensitive")});
            if (!near.empty())
                Add(false, node, where,
                    wxString::Format(wxT("unknown attribute %s, taken for a feature (did you mean %s?)"), name, near));
            continue;
        }
        if (attribute->GetValue().empty()) continue;
        hasCondition = true;
        if (hierarchical) LintPattern(node, where, attribute->GetValue(), exclude);
    }
    for (const wxXmlNode* child : Elements(node)) {
        if (child->GetName() != kKey) continue;
        hasCondition = true;
        LintKey(*child, where + wxT("/Key"), exclude, hierarchical);
    }
    if (!hasCondition)
        Add(false, node, where,
            exclude ? wxString(wxT("no key, no Key: this Exclude excludes nothing"))
                    : wxString(wxT("no key, no Key: this Include adds no condition, and a set whose Includes have "
                                   "none matches every key")));
}

void CRuleLint::LintKey(const wxXmlNode& key, const wxString& where, bool exclude, bool hierarchical) {
    LintUnknownChildren(key, where, {});
    for (const wxXmlAttribute* attribute = key.GetAttributes(); attribute; attribute = attribute->GetNext())
        if (attribute->GetName() != wxT("pattern"))
            Add(false, key, where,
                wxString::Format(wxT("unknown attribute %s, ignored%s"), attribute->GetName(),
                                 DidYouMean(attribute->GetName(), {wxT("pattern")})));
    if (hierarchical) LintPattern(key, where, key.GetAttribute(wxT("pattern")), exclude);
}

void CRuleLint::LintPattern(const wxXmlNode& node, const wxString& where, const wxString& pattern, bool exclude) {
    const wxString expression = m_thread.PatternToRegEx(pattern, wxPATH_UNIX, false, true);
    std::unique_ptr<CRecordRegEx> compiled;
    {
        wxLogNull quiet;
        compiled = CRecordRegEx::Compile(expression, false);
    }
    const wxString quoted = wxT("pattern \"") + pattern + wxT("\"");
    if (!compiled) {
        Add(false, node, where,
            wxString::Format(wxT("%s gives the expression %s, which does not compile: the pattern imposes no "
                                 "condition, so this %s %s"),
                             quoted, expression, exclude ? kExclude : kInclude,
                             exclude ? wxT("removes every key its other conditions allow")
                                     : wxT("takes every key its other conditions allow")));
    } else if (ExpressionNeverMatchesKey(expression,
                                         CGlobTranslator(CIntegrityScanThread::GetPathFormat(m_dom)).GetSeparator())) {
        Add(false, node, where,
            wxString::Format(wxT("%s (expression %s) can never match a key: keys are never empty and never end "
                                 "with \"/\""),
                             quoted, expression));
    }
    const wxString operators = UnescapedOperators(pattern);
    if (!operators.empty())
        Add(false, node, where,
            wxString::Format(wxT("%s holds %s, which keep their expression meaning (write \\%c for the character "
                                 "itself)"),
                             quoted, operators.length() > 1 ? wxT("\"+\" and \"|\"") : wxT("\"") + operators + wxT("\""),
                             operators[0]));
}

void CRuleLint::LintUnknownChildren(const wxXmlNode& node, const wxString& where,
                                    const std::vector<wxString>& known) {
    for (const wxXmlNode* child : Elements(node)) {
        if (std::find(known.begin(), known.end(), child->GetName()) != known.end()) continue;
        Add(false, *child, where,
            wxString::Format(wxT("unknown element %s, ignored%s"), child->GetName(), DidYouMean(child->GetName(), known)));
    }
}

}  // namespace KvoPluginIm
