#include "core/IdNameObject.h"

namespace KvoCore {

CIdNameObject::CIdNameObject() { AddAttribute(wxT("name"), &m_name); }

void CIdNameObject::SetName(const wxString& name) {
    m_name = name;
    SetAttributeNull(&m_name, false);
}

}  // namespace KvoCore
