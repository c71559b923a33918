#include "plugins/im/FileOrDirSet.h"

#include "plugins/im/HostPlatform.h"

namespace KvoPluginIm {

CFileOrDirSet::CFileOrDirSet() {
    AddAttribute(wxT("followLinks"), &m_followLinks, false);
    AddAttribute(wxT("includeRemovable"), &m_includeRemovable, false);
}

wxString CFileOrDirSet::CommonStandardAttributes() {
    return wxT("created,group,lastModified,owner,permissions,") + PlatformText(wxT("flags,"), wxString());
}

wxString CFileOrDirSet::CommonOtherAttributes() {
    return wxT("lastAccessed,") +
           PlatformText(wxT("flagsAll,"), wxT("deviceNumber,inodeGenerationNumber,inodeNumber,"));
}

}  // namespace KvoPluginIm
