#include "plugins/im/DirSet.h"

namespace KvoPluginIm {

wxString CDirSet::GetElementName() const { return wxT("DirectorySet"); }

wxString CDirSet::GetAllowedAttributes() const { return GetStandardAttributes() + CommonOtherAttributes(); }

wxString CDirSet::GetStandardAttributes() const { return CommonStandardAttributes() + wxT("symLinkPath,"); }

wxString CDirSets::GetElementName() const { return wxT("DirSets"); }

wxString CDirSets::ChildElementName() const { return wxT("DirectorySet"); }

KvoCore::XMLObject* CDirSets::CreateListElement() { return new CDirSet(); }

}  // namespace KvoPluginIm
