// CRegistryKeySet: a RegistryKeySet element: registry keys below a base (Windows hosts only).
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/HierarchicalEntitySet.h"

namespace KvoPluginIm {

class CRegistryKeySet : public CHierarchicalEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
};

// The RegistryKeySet elements of a rule, unwrapped under it.
class CRegistryKeySets : public KvoCore::XMLObjectList {
public:
    CRegistryKeySets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
