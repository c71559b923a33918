#include "plugins/im/SqlProcessEntitySet.h"

namespace KvoPluginIm {

CSqlProcessEntitySet::CSqlProcessEntitySet() {
    AddAttribute(wxT("monitorCommandLine"), &m_monitorCommandLine, false);
    AddAttribute(wxT("monitorGroup"), &m_monitorGroup, false);
    AddAttribute(wxT("monitorParent"), &m_monitorParent, false);
    AddAttribute(wxT("monitorPath"), &m_monitorPath, false);
    AddAttribute(wxT("monitorProcess"), &m_monitorProcess, false);
    AddAttribute(wxT("monitorThreads"), &m_monitorThreads, false);
    AddAttribute(wxT("monitorUser"), &m_monitorUser, false);
}

}  // namespace KvoPluginIm
