#include "plugins/im/EntityAttribute.h"

namespace KvoPluginIm {

CEntityAttribute::CEntityAttribute() {
    AddAttribute(wxT("name"), &m_name);
    AddAttribute(wxT("value"), &m_value, XMLObject::StringAlwaysPrinted);
    AddAttribute(wxT("friendlyValue"), &m_friendlyValue);
}

wxString CEntityAttribute::GetElementName() const { return wxT("Attribute"); }

wxString CEntityAttributes::GetElementName() const { return wxT("Attributes"); }

wxString CEntityAttributes::ChildElementName() const { return wxT("Attribute"); }

KvoCore::XMLObject* CEntityAttributes::CreateListElement() { return new CEntityAttribute(); }

}  // namespace KvoPluginIm
