// CDirSet: a DirectorySet element: directories below a base.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/FileOrDirSet.h"

namespace KvoPluginIm {

class CDirSet : public CFileOrDirSet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
};

// The DirectorySet elements of a rule, unwrapped under it.
class CDirSets : public KvoCore::XMLObjectList {
public:
    CDirSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
