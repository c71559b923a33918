// CRuleLint: what one configured rule does that its author probably did not
// mean, each finding pointing at the line of the configuration file.
//
// The rule model takes every rule it can parse, silently: an element it does
// not know is skipped, a pattern whose expression does not compile imposes no
// condition, a variable without "env." expands to nothing. Each of these
// usually turns a set into one that watches everything or nothing, so the
// lint names them. It reads the element as parsed (for its lines) and asks the
// control thread's own translation and search-base code, so it judges what
// storage would store. Nothing here changes what is stored.
//
// Errors make a rule "not accepted whole"; warnings (a search base that does
// not exist on this host, a variable this host does not define) depend on the
// host rather than the rule.
#pragma once

#include <wx/string.h>

#include <memory>
#include <vector>

class wxXmlNode;

namespace KvoCore {
class CDom;
}

namespace KvoPluginIm {

class CIntegrityRule;
class CSystemIntegrityThread;

class CRuleLint {
public:
    struct Finding {
        bool warning;
        int line;        // of the element in the configuration file, 0 when unknown
        wxString where;  // element path below the rule: "FileSet/Include"
        wxString text;
    };

    // rule: an IntegrityRule element; thread: the control thread whose storage
    // the findings are about (it is only read).
    CRuleLint(KvoCore::CDom& dom, const CSystemIntegrityThread& thread, const wxXmlNode& rule);
    ~CRuleLint();
    CRuleLint(const CRuleLint&) = delete;
    CRuleLint& operator=(const CRuleLint&) = delete;

    const std::vector<Finding>& GetFindings() const { return m_findings; }
    int ErrorCount() const;
    int GetRuleId() const { return m_ruleId; }
    const wxString& GetRuleName() const { return m_ruleName; }
    // `rule ID "NAME", WHERE: TEXT`
    wxString Describe(const Finding& finding) const;

    // The agent's side: logs the findings of the configured rule with this id
    // as warnings (storage goes on as it would without them).
    static void LogFindings(KvoCore::CDom& dom, const CSystemIntegrityThread& thread, int ruleId);

    static const char* const s_RulesPath;  // "/SecurityConfiguration/IntegrityRules"

private:
    void LintRuleChild(const wxXmlNode& node);
    void LintSet(const wxXmlNode& set, bool hierarchical);
    void LintBase(const wxXmlNode& set, const wxString& base);
    void LintIncludeOrExclude(const wxXmlNode& node, const wxString& where, bool exclude, bool hierarchical);
    void LintKey(const wxXmlNode& key, const wxString& where, bool exclude, bool hierarchical);
    void LintPattern(const wxXmlNode& node, const wxString& where, const wxString& pattern, bool exclude);
    void LintUnknownChildren(const wxXmlNode& node, const wxString& where, const std::vector<wxString>& known);
    void Add(bool warning, const wxXmlNode& node, const wxString& where, const wxString& text);

    KvoCore::CDom& m_dom;
    const CSystemIntegrityThread& m_thread;
    int m_ruleId = 0;
    wxString m_ruleName;
    std::unique_ptr<CIntegrityRule> m_rule;
    std::vector<Finding> m_findings;
};

}  // namespace KvoPluginIm
