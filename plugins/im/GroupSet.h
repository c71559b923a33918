// CGroupSet: a GroupSet element: the host's user groups.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CGroupSet : public CEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
};

// The GroupSet elements of a rule, unwrapped under it.
class CGroupSets : public KvoCore::XMLObjectList {
public:
    CGroupSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
