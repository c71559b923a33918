// CSqlPortEntitySet: one row of "PortSets" (which attributes of a
// listening-port set are monitored), and its list.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlPortEntitySet : public CSqlEntitySet {
public:
    CSqlPortEntitySet();

    static wxString ElementName() { return wxT("PortSet"); }
    static wxString EntityType() { return wxT("Port"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorCreated = false;
    bool m_monitorGroup = false;
    bool m_monitorListeners = false;
    bool m_monitorPath = false;
    bool m_monitorProcess = false;
    bool m_monitorProcessId = false;
    bool m_monitorUser = false;
};

class CSqlPortEntitySets : public CSqlRecordList<CSqlPortEntitySet> {};

}  // namespace KvoPluginIm
