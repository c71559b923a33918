#include "plugins/im/tool/RulesCommand.h"

#include <wx/xml/xml.h>

#include <cstdio>
#include <vector>

#include "plugins/im/IntegrityRule.h"
#include "plugins/im/RuleLint.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/tool/RuleProblems.h"
#include "plugins/im/tool/RulesTool.h"

namespace KvoPluginIm {

const char* const CRulesCommand::s_RulesPath = CRuleLint::s_RulesPath;

namespace {

// "2 lint errors (lines 5, 9)": the rule's summary points at the findings.
wxString LintSummary(const CRuleLint& lint) {
    wxString lines;
    for (const CRuleLint::Finding& finding : lint.GetFindings())
        if (!finding.warning) lines += (lines.empty() ? wxT("") : wxT(", ")) + wxString::Format("%d", finding.line);
    const int errors = lint.ErrorCount();
    return wxString::Format(wxT("%d lint error%s (line%s %s)"), errors, errors == 1 ? "" : "s",
                            errors == 1 ? "" : "s", lines);
}

}  // namespace

bool CRulesCommand::Parse(const std::vector<std::string>& arguments, std::string& error) {
    bool options = true;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue = argument == "--keep" || argument == "--type";
        if (options && takesValue && i + 1 >= arguments.size()) {
            error = "rules " + argument + " needs a value";
            return false;
        }
        if (options && argument == "--") {
            options = false;
        } else if (options && argument == "--plan") {
            m_mode = Mode::Plan;
        } else if (options && argument == "--why") {
            m_mode = Mode::Why;
        } else if (options && argument == "--keep") {
            m_keep = arguments[++i];
        } else if (options && argument == "--type") {
            m_type = arguments[++i];
        } else if (options && argument.rfind("--", 0) == 0) {
            error = "unknown rules option " + argument;
            return false;
        } else {
            m_keys.push_back(argument);
        }
    }
    if (m_mode != Mode::Why && (!m_keys.empty() || !m_type.empty())) {
        error = m_keys.empty() ? "rules --type goes with --why" : "rules takes keys only with --why, got " + m_keys[0];
        return false;
    }
    if (m_mode == Mode::Why && m_keys.empty()) {
        error = "rules --why needs at least one key";
        return false;
    }
    if (m_mode != Mode::Plan && !m_keep.empty()) {
        error = "rules --keep goes with --plan";
        return false;
    }
    return true;
}

int CRulesCommand::Run(KvoCore::CDom& dom, const wxString& configPath) {
    CIntegrityRules rules;
    if (!dom.ConfigGetXml(s_RulesPath, rules)) {
        fprintf(stderr, "kvo-rules: %s in %s is missing or does not parse\n", s_RulesPath,
                configPath.utf8_str().data());
        return CRulesTool::ExitBadInput;
    }
    for (const KvoCore::XMLObject* member : rules.Children())
        fputs(dynamic_cast<const CIntegrityRule&>(*member).toString().utf8_str().data(), stdout);

    const CSystemIntegrityThread thread;
    std::vector<wxString> summaries;
    bool allAccepted = true;
    size_t index = 0;
    dom.ConfigVisitElement(s_RulesPath, [&](const wxXmlNode& element) {
        for (const wxXmlNode* node = element.GetChildren(); node; node = node->GetNext()) {
            if (node->GetName() != wxT("IntegrityRule") || index >= rules.size()) continue;
            const auto& rule = dynamic_cast<const CIntegrityRule&>(*rules.Children()[index++]);
            const CRuleLint lint(dom, thread, *node);
            for (const CRuleLint::Finding& finding : lint.GetFindings())
                printf("%s:%d: %s: %s\n", configPath.utf8_str().data(), finding.line,
                       finding.warning ? "warning" : "error", lint.Describe(finding).utf8_str().data());
            CRuleProblems problems(rule);
            if (lint.ErrorCount() > 0) problems.Add(LintSummary(lint));
            allAccepted = allAccepted && problems.Accepted();
            summaries.push_back(problems.Summary());
        }
    });
    for (const wxString& summary : summaries) printf("%s\n", summary.utf8_str().data());
    return allAccepted ? CRulesTool::ExitOk : CRulesTool::ExitNotAccepted;
}

}  // namespace KvoPluginIm
