#include "plugins/im/Include.h"

namespace KvoPluginIm {

wxString CInclude::GetElementName() const { return wxT("Include"); }

wxString CIncludes::GetElementName() const { return wxT("Includes"); }

wxString CIncludes::ChildElementName() const { return wxT("Include"); }

KvoCore::XMLObject* CIncludes::CreateListElement() { return new CInclude(m_owner); }

}  // namespace KvoPluginIm
