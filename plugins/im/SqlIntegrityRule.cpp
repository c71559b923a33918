#include "plugins/im/SqlIntegrityRule.h"

namespace KvoPluginIm {

namespace {
const wxChar* const kRuleIdName = wxT("id");
}  // namespace

CSqlIntegrityRule::CSqlIntegrityRule() {
    UseNullDefaults();
    ReplaceAttribute(kRuleIdName, wxT("integrityRuleId"), &m_id, 0, true);
}

bool CSqlIntegrityRule::AssignFrom(const CIntegrityRule& rule) {
    const wxString idName = GetAttributeName(&m_id);
    bool assigned = true;
    // Both objects register the same attributes in the same order, ours with
    // the id renamed; going by text keeps the rule's members private.
    rule.EnumAttributes([&](const Attribute& attribute) {
        const wxString name = attribute.name == kRuleIdName ? idName : attribute.name.Text();
        if (!SetAttribute(name, attribute.ToText())) assigned = false;
        return true;
    });
    return assigned;
}

}  // namespace KvoPluginIm
