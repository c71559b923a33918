// CProcessSet: a ProcessSet element: the host's running processes.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/EntitySet.h"

namespace KvoPluginIm {

class CProcessSet : public CEntitySet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
    wxString GetAllowedFeatures() const override;
};

// The ProcessSet elements of a rule, unwrapped under it.
class CProcessSets : public KvoCore::XMLObjectList {
public:
    CProcessSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
