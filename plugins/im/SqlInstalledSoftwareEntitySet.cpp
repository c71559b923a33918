#include "plugins/im/SqlInstalledSoftwareEntitySet.h"

namespace KvoPluginIm {

CSqlInstalledSoftwareEntitySet::CSqlInstalledSoftwareEntitySet() {
    AddAttribute(wxT("monitorInstalledDate"), &m_monitorInstalledDate, false);
    AddAttribute(wxT("monitorInstallLocation"), &m_monitorInstallLocation, false);
    AddAttribute(wxT("monitorManufacturer"), &m_monitorManufacturer, false);
    AddAttribute(wxT("monitorName"), &m_monitorName, false);
    AddAttribute(wxT("monitorParent"), &m_monitorParent, false);
    AddAttribute(wxT("monitorSize"), &m_monitorSize, false);
    AddAttribute(wxT("monitorVersion"), &m_monitorVersion, false);
}

}  // namespace KvoPluginIm
