#include "plugins/im/InstalledSoftwareSet.h"

#include "plugins/im/HostPlatform.h"

namespace KvoPluginIm {

wxString CInstalledSoftwareSet::GetElementName() const { return wxT("InstalledSoftwareSet"); }

wxString CInstalledSoftwareSet::GetAllowedAttributes() const {
    return wxT("manufacturer,version,installedDate,size,") +
           PlatformText(wxT("installLocation,name,parent"), wxString());
}

wxString CInstalledSoftwareSet::GetStandardAttributes() const { return wxT("installedDate,version,"); }

wxString CInstalledSoftwareSet::GetAllowedFeatures() const {
    return wxT("manufacturer,") + PlatformText(wxT("name,"), wxString());
}

wxString CInstalledSoftwareSets::GetElementName() const { return wxT("InstalledSoftwareSets"); }

wxString CInstalledSoftwareSets::ChildElementName() const { return wxT("InstalledSoftwareSet"); }

KvoCore::XMLObject* CInstalledSoftwareSets::CreateListElement() { return new CInstalledSoftwareSet(); }

}  // namespace KvoPluginIm
