#include "core/IdObject.h"

namespace KvoCore {

CIdObject::CIdObject() { AddAttribute(wxT("id"), &m_id, 0); }

void CIdObject::SetId(int id) {
    m_id = id;
    SetAttributeNull(&m_id, false);
}

}  // namespace KvoCore
