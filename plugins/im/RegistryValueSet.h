// CRegistryValueSet: a RegistryValueSet element: registry values below a base (Windows hosts only).
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/HierarchicalEntitySet.h"

namespace KvoPluginIm {

class CRegistryValueSet : public CHierarchicalEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
};

// The RegistryValueSet elements of a rule, unwrapped under it.
class CRegistryValueSets : public KvoCore::XMLObjectList {
public:
    CRegistryValueSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
