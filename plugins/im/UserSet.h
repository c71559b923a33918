// CUserSet: a UserSet element: the host's user accounts.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CUserSet : public CEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
    wxString GetAllowedFeatures() const override;
};

// The UserSet elements of a rule, unwrapped under it.
class CUserSets : public KvoCore::XMLObjectList {
public:
    CUserSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
