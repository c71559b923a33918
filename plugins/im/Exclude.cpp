#include "plugins/im/Exclude.h"

namespace KvoPluginIm {

wxString CExclude::GetElementName() const { return wxT("Exclude"); }

wxString CExcludes::GetElementName() const { return wxT("Excludes"); }

wxString CExcludes::ChildElementName() const { return wxT("Exclude"); }

KvoCore::XMLObject* CExcludes::CreateListElement() { return new CExclude(m_owner); }

}  // namespace KvoPluginIm
