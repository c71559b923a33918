// CSqlServiceEntitySet: one row of "ServiceSets" (which attributes of a
// service set are monitored), and its list.
//
// Services are a Windows entity type: rule storage never writes this table.
#pragma once

#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlServiceEntitySet : public CSqlEntitySet {
public:
    CSqlServiceEntitySet();

    static wxString ElementName() { return wxT("ServiceSet"); }
    static wxString EntityType() { return wxT("Service"); }
    wxString GetElementName() const override { return ElementName(); }
    wxString GetEntityType() const override { return EntityType(); }

    bool m_monitorOwner = false;
    bool m_monitorGroup = false;
    bool m_monitorPermissions = false;
    bool m_monitorBinaryPathName = false;
    bool m_monitorDescription = false;
    bool m_monitorDisplayName = false;
    bool m_monitorState = false;
    bool m_monitorStartType = false;
    bool m_monitorLogOnAs = false;
    bool m_monitorFirstFailure = false;
    bool m_monitorSecondFailure = false;
    bool m_monitorSubsequentFailures = false;
    bool m_monitorResetFailCountAfter = false;
    bool m_monitorRunProgram = false;
    bool m_monitorDependsOn = false;
    bool m_monitorLoadOrderGroup = false;
    bool m_monitorRebootMessage = false;
    bool m_monitorProcessId = false;
};

class CSqlServiceEntitySets : public CSqlRecordList<CSqlServiceEntitySet> {};

}  // namespace KvoPluginIm
