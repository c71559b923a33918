#include "plugins/im/Entity.h"

namespace KvoPluginIm {

CEntity::CEntity() {
    AddAttribute(wxT("id"), &m_id, 0, false);
    AddAttribute(wxT("type"), &m_type);
    AddAttribute(wxT("integrityRuleId"), &m_integrityRuleId, 0, false);
    AddAttribute(wxT("key"), &m_key);
    AddAttribute(wxT("fingerprinted"), &m_fingerprinted, 0, false);
    AddAttribute(wxT("fastHash"), &m_fastHash);
    AddChild(&m_entityAttributes);
}

wxString CEntity::GetElementName() const { return wxT("Entity"); }

wxString CEntitys::GetElementName() const { return wxT("Entitys"); }

wxString CEntitys::ChildElementName() const { return wxT("Entity"); }

KvoCore::XMLObject* CEntitys::CreateListElement() { return new CEntity(); }

}  // namespace KvoPluginIm
