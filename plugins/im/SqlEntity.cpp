#include "plugins/im/SqlEntity.h"

namespace KvoPluginIm {

CSqlEntity::CSqlEntity() {
    UseNullDefaults();
    AddAttribute(wxT("entityId"), &m_entityId, 0, true);
    AddAttribute(wxT("entityType"), &m_entityType);
    AddAttribute(wxT("entitySetId"), &m_entitySetId, 0, false);
    AddAttribute(wxT("integrityRuleId"), &m_integrityRuleId, 0, false);
    AddAttribute(wxT("integrityRuleSeverity"), &m_integrityRuleSeverity);
    AddAttribute(wxT("keyCanonical"), &m_keyCanonical);
    AddAttribute(wxT("key"), &m_key);
    AddAttribute(wxT("whenScanned"), &m_whenScanned, 0, false);
    AddAttribute(wxT("attributeHash"), &m_attributeHash);
    AddAttribute(wxT("supercededBy"), &m_supercededBy, 0, false);
    AddAttribute(wxT("eventDropped"), &m_eventDropped, 0, false);
    AddChild(&m_attributeList);
}

}  // namespace KvoPluginIm
