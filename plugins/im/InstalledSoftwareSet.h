// CInstalledSoftwareSet: a InstalledSoftwareSet element: the software packages installed on the host.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CInstalledSoftwareSet : public CEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
    wxString GetAllowedFeatures() const override;
};

// The InstalledSoftwareSet elements of a rule, unwrapped under it.
class CInstalledSoftwareSets : public KvoCore::XMLObjectList {
public:
    CInstalledSoftwareSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
