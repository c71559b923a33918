#include "plugins/im/SqlRegistryValueEntitySet.h"

namespace KvoPluginIm {

CSqlRegistryValueEntitySet::CSqlRegistryValueEntitySet() {
    AddAttribute(wxT("monitorSize"), &m_monitorSize, false);
    AddAttribute(wxT("monitorSha1"), &m_monitorSha1, false);
    AddAttribute(wxT("monitorSha256"), &m_monitorSha256, false);
    AddAttribute(wxT("monitorMd5"), &m_monitorMd5, false);
    AddAttribute(wxT("monitorType"), &m_monitorType, false);
}

}  // namespace KvoPluginIm
