#include "plugins/im/GroupSet.h"

#include "plugins/im/HostPlatform.h"

namespace KvoPluginIm {

wxString CGroupSet::GetElementName() const { return wxT("GroupSet"); }

wxString CGroupSet::GetAllowedAttributes() const {
    return wxT("group,members,") + PlatformText(wxT("description,subGroups,"), wxString());
}

wxString CGroupSet::GetStandardAttributes() const {
    return wxT("group,members,") + PlatformText(wxT("subGroups,"), wxString());
}

wxString CGroupSets::GetElementName() const { return wxT("GroupSets"); }

wxString CGroupSets::ChildElementName() const { return wxT("GroupSet"); }

KvoCore::XMLObject* CGroupSets::CreateListElement() { return new CGroupSet(); }

}  // namespace KvoPluginIm
