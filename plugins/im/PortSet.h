// CPortSet: a PortSet element: the host's listening ports.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CPortSet : public CEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
    wxString GetAllowedFeatures() const override;
};

// The PortSet elements of a rule, unwrapped under it.
class CPortSets : public KvoCore::XMLObjectList {
public:
    CPortSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
