#include "plugins/im/EntitySetOperation.h"

namespace KvoPluginIm {

CEntitySetOperation::CEntitySetOperation(const CEntitySet& owner) : m_owner(owner) {
    AddAttribute(wxT("types"), &m_types);
}

wxString CEntitySetOperation::GetElementName() const { return wxT("Operation"); }

wxString CEntitySetOperations::GetElementName() const { return wxT("Operations"); }

wxString CEntitySetOperations::ChildElementName() const { return wxT("Operation"); }

KvoCore::XMLObject* CEntitySetOperations::CreateListElement() { return new CEntitySetOperation(m_owner); }

}  // namespace KvoPluginIm
