#include "plugins/im/FileSet.h"

namespace KvoPluginIm {

const wxString CFileSet::s_OurStandardAttributes = wxT("contents,size,symLinkPath,");
const wxString CFileSet::s_OurOtherAttributes = wxT("blocksAllocated,growing,md5,sha1,sha256,shrinking,");

wxString CFileSet::GetElementName() const { return wxT("FileSet"); }

wxString CFileSet::GetAllowedAttributes() const {
    return CommonStandardAttributes() + CommonOtherAttributes() + s_OurStandardAttributes +
           s_OurOtherAttributes;
}

wxString CFileSet::GetStandardAttributes() const {
    return CommonStandardAttributes() + s_OurStandardAttributes;
}

wxString CFileSet::GetAllowedFeatures() const {
    return CFileOrDirSet::GetAllowedFeatures() + wxT("executable,");
}

wxString CFileSets::GetElementName() const { return wxT("FileSets"); }

wxString CFileSets::ChildElementName() const { return wxT("FileSet"); }

KvoCore::XMLObject* CFileSets::CreateListElement() { return new CFileSet(); }

}  // namespace KvoPluginIm
