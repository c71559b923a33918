// The configuration file as the agent parses it, then its rules as the
// plug-in reads them and as kvo-rules prints them back and judges them.
#include <wx/init.h>

#include <stddef.h>
#include <stdint.h>

#include "core/Configuration.h"
#include "core/Utilities.h"
#include "plugins/im/IntegrityRule.h"
#include "plugins/im/tool/RuleProblems.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static wxInitializer init;
    KvoCore::InitFileNameConversion();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KvoCore::CConfiguration config;
    wxString error;
    const wxString text = wxString::FromUTF8(reinterpret_cast<const char*>(data), size);
    if (!config.LoadText(text, "fuzz.xml", error)) return 0;
    config.IsEmpty();
    wxString value;
    config.GetAttribute("/SecurityConfiguration/AgentConfiguration", "systemIntegrityEventMode", value);

    KvoPluginIm::CIntegrityRules rules;
    if (!config.GetXml("/SecurityConfiguration/IntegrityRules", rules)) return 0;
    for (const KvoCore::XMLObject* member : rules.Children()) {
        const auto& rule = dynamic_cast<const KvoPluginIm::CIntegrityRule&>(*member);
        rule.toString();
        KvoPluginIm::CRuleProblems(rule).Summary();
    }
    return 0;
}
