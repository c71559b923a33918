#include "plugins/im/SqlEntity.h"

namespace KvoPluginIm {

CSqlEntity::CSqlEntity() {
    UseNullDefaults();
    ReserveAttributes(11);
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

void CSqlEntity::SetFound(const wxString& entityType, long long entitySetId, long long integrityRuleId,
                          const wxString& keyCanonical, const wxString& key, long long whenScanned) {
    SetToDefaults();
    m_entityType = entityType;
    m_entitySetId = entitySetId;
    m_integrityRuleId = integrityRuleId;
    m_keyCanonical = keyCanonical;
    m_key = key;
    m_whenScanned = whenScanned;
    for (const void* member : {static_cast<const void*>(&m_entityType), static_cast<const void*>(&m_entitySetId),
                               static_cast<const void*>(&m_integrityRuleId), static_cast<const void*>(&m_keyCanonical),
                               static_cast<const void*>(&m_key), static_cast<const void*>(&m_whenScanned)})
        SetAttributeNull(member, false);
}

void CSqlEntity::SetSeverity(int severity) {
    m_integrityRuleSeverity = severity;
    SetAttributeNull(&m_integrityRuleSeverity, false);
}

}  // namespace KvoPluginIm
