#include "plugins/im/SqlServiceEntitySet.h"

namespace KvoPluginIm {

CSqlServiceEntitySet::CSqlServiceEntitySet() {
    AddAttribute(wxT("monitorOwner"), &m_monitorOwner, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorPermissions"), &m_monitorPermissions, false);
    AddAttribute(wxT("monitorBinaryPathName"), &m_monitorBinaryPathName, false);
    AddAttribute(wxT("monitorDescription"), &m_monitorDescription, false);
    AddAttribute(wxT("monitorDisplayName"), &m_monitorDisplayName, false);
    AddAttribute(wxT("monitorState"), &m_monitorState, false);
    AddAttribute(wxT("monitorStartType"), &m_monitorStartType, false);
    AddAttribute(wxT("monitorLogOnAs"), &m_monitorLogOnAs, false);
    AddAttribute(wxT("monitorFirstFailure"), &m_monitorFirstFailure, false);
    AddAttribute(wxT("monitorSecondFailure"), &m_monitorSecondFailure, false);
    AddAttribute(wxT("monitorSubsequentFailures"), &m_monitorSubsequentFailures, false);
    AddAttribute(wxT("monitorResetFailCountAfter"), &m_monitorResetFailCountAfter, false);
    AddAttribute(wxT("monitorRunProgram"), &m_monitorRunProgram, false);
    AddAttribute(wxT("monitorDependsOn"), &m_monitorDependsOn, false);
    AddAttribute(wxT("monitorLoadOrderGroup"), &m_monitorLoadOrderGroup, false);
    AddAttribute(wxT("monitorRebootMessage"), &m_monitorRebootMessage, false);
    AddAttribute(wxT("monitorProcessId"), &m_monitorProcessId, false);
}

}  // namespace KvoPluginIm
