// CSqlInstalledSoftwareEntitySet: one row of "InstalledSoftwareSets" (which attributes of an
// installed-software set are monitored), and its list.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlInstalledSoftwareEntitySet : public CSqlEntitySet {
public:
    CSqlInstalledSoftwareEntitySet();

    static wxString ElementName() { return wxT("InstalledSoftwareSet"); }
    static wxString EntityType() { return wxT("InstalledSoftware"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorInstalledDate = false;
    bool m_monitorInstallLocation = false;
    bool m_monitorManufacturer = false;
    bool m_monitorName = false;
    bool m_monitorParent = false;
    bool m_monitorSize = false;
    bool m_monitorVersion = false;
};

class CSqlInstalledSoftwareEntitySets : public CSqlRecordList<CSqlInstalledSoftwareEntitySet> {};

}  // namespace KvoPluginIm
