// CFileSet: a FileSet element: files below a base, with their contents,
// sizes and digests on top of what directories offer.
#pragma once

#include "core/XMLObjectList.h"
#include "plugins/im/FileOrDirSet.h"

namespace KvoPluginIm {

class CFileSet : public CFileOrDirSet {
public:
    wxString GetElementName() const override;
    wxString GetAllowedAttributes() const override;
    wxString GetStandardAttributes() const override;
    wxString GetAllowedFeatures() const override;

    // File attributes monitored by default, and those only on request.
    static const wxString s_OurStandardAttributes;
    static const wxString s_OurOtherAttributes;
};

// The FileSet elements of a rule, unwrapped under it.
class CFileSets : public KvoCore::XMLObjectList {
public:
    CFileSets() : XMLObjectList(false, true) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
