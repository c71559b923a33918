#include "plugins/im/SqlPortEntitySet.h"

namespace KvoPluginIm {

CSqlPortEntitySet::CSqlPortEntitySet() {
    AddAttribute(wxT("monitorCreated"), &m_monitorCreated, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorListeners"), &m_monitorListeners, false);
    AddAttribute(wxT("monitorPath"), &m_monitorPath, false);
    AddAttribute(wxT("monitorProcess"), &m_monitorProcess, false);
    AddAttribute(wxT("monitorProcessId"), &m_monitorProcessId, false);
    AddAttribute(wxT("monitorUser"), &m_monitorUser, false);
}

}  // namespace KvoPluginIm
