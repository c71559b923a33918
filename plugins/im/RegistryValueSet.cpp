#include "plugins/im/RegistryValueSet.h"

namespace KvoPluginIm {

wxString CRegistryValueSet::GetElementName() const { return wxT("RegistryValueSet"); }

wxString CRegistryValueSet::GetAllowedAttributes() const {
    return wxT("contents,md5,sha1,sha256,size,type,");
}

wxString CRegistryValueSet::GetStandardAttributes() const { return wxT("contents,size,type,"); }

wxString CRegistryValueSets::GetElementName() const { return wxT("RegistryValueSets"); }

wxString CRegistryValueSets::ChildElementName() const { return wxT("RegistryValueSet"); }

KvoCore::XMLObject* CRegistryValueSets::CreateListElement() { return new CRegistryValueSet(); }

}  // namespace KvoPluginIm
