#include "plugins/im/RegistryKeySet.h"

namespace KvoPluginIm {

wxString CRegistryKeySet::GetElementName() const { return wxT("RegistryKeySet"); }

wxString CRegistryKeySet::GetAllowedAttributes() const {
    return wxT("class,group,lastModified,owner,permissions,securityDescriptorSize,");
}

wxString CRegistryKeySet::GetStandardAttributes() const {
    return wxT("group,lastModified,owner,permissions,");
}

wxString CRegistryKeySets::GetElementName() const { return wxT("RegistryKeySets"); }

wxString CRegistryKeySets::ChildElementName() const { return wxT("RegistryKeySet"); }

KvoCore::XMLObject* CRegistryKeySets::CreateListElement() { return new CRegistryKeySet(); }

}  // namespace KvoPluginIm
