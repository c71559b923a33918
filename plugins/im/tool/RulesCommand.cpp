#include "plugins/im/tool/RulesCommand.h"

#include <cstdio>
#include <vector>

#include "plugins/im/IntegrityRule.h"
#include "plugins/im/tool/RuleProblems.h"
#include "plugins/im/tool/RulesTool.h"

namespace KvoPluginIm {

const char* const CRulesCommand::s_RulesPath = "/SecurityConfiguration/IntegrityRules";

int CRulesCommand::Run(KvoCore::CDom& dom, const wxString& configPath) {
    CIntegrityRules rules;
    if (!dom.ConfigGetXml(s_RulesPath, rules)) {
        fprintf(stderr, "kvo-rules: %s in %s is missing or does not parse\n", s_RulesPath,
                configPath.utf8_str().data());
        return CRulesTool::ExitBadInput;
    }
    std::vector<wxString> summaries;
    bool allAccepted = true;
    for (const KvoCore::XMLObject* member : rules.Children()) {
        const auto& rule = dynamic_cast<const CIntegrityRule&>(*member);
        fputs(rule.toString().utf8_str().data(), stdout);
        const CRuleProblems problems(rule);
        allAccepted = allAccepted && problems.Accepted();
        summaries.push_back(problems.Summary());
    }
    for (const wxString& summary : summaries) printf("%s\n", summary.utf8_str().data());
    return allAccepted ? CRulesTool::ExitOk : CRulesTool::ExitNotAccepted;
}

}  // namespace KvoPluginIm
