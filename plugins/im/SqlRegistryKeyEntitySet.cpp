#include "plugins/im/SqlRegistryKeyEntitySet.h"

namespace KvoPluginIm {

CSqlRegistryKeyEntitySet::CSqlRegistryKeyEntitySet() {
    AddAttribute(wxT("monitorOwner"), &m_monitorOwner, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorPermissions"), &m_monitorPermissions, false);
    AddAttribute(wxT("monitorLastModified"), &m_monitorLastModified, false);
    AddAttribute(wxT("monitorClass"), &m_monitorClass, false);
    AddAttribute(wxT("monitorSecurityDescriptorSize"), &m_monitorSecurityDescriptorSize, false);
}

}  // namespace KvoPluginIm
