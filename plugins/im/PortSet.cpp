#include "plugins/im/PortSet.h"

#include "plugins/im/HostPlatform.h"

namespace KvoPluginIm {

wxString CPortSet::GetElementName() const { return wxT("PortSet"); }

wxString CPortSet::GetAllowedAttributes() const {
    return wxT("group,listeners,path,process,processId,user,") + PlatformText(wxT("created,"), wxString());
}

wxString CPortSet::GetStandardAttributes() const { return GetAllowedAttributes(); }

wxString CPortSet::GetAllowedFeatures() const { return wxT("group,path,process,user,"); }

wxString CPortSets::GetElementName() const { return wxT("PortSets"); }

wxString CPortSets::ChildElementName() const { return wxT("PortSet"); }

KvoCore::XMLObject* CPortSets::CreateListElement() { return new CPortSet(); }

}  // namespace KvoPluginIm
