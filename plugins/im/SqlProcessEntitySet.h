// CSqlProcessEntitySet: one row of "ProcessSets" (which attributes of a
// process set are monitored), and its list.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlProcessEntitySet : public CSqlEntitySet {
public:
    CSqlProcessEntitySet();

    static wxString ElementName() { return wxT("ProcessSet"); }
    static wxString EntityType() { return wxT("Process"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorCommandLine = false;
    bool m_monitorGroup = false;
    bool m_monitorParent = false;
    bool m_monitorPath = false;
    bool m_monitorProcess = false;
    bool m_monitorThreads = false;
    bool m_monitorUser = false;
};

class CSqlProcessEntitySets : public CSqlRecordList<CSqlProcessEntitySet> {};

}  // namespace KvoPluginIm
