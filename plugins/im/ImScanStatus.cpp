#include "plugins/im/ImScanStatus.h"

namespace KvoPluginIm {

CImScanStatus::CImScanStatus() {
    AddAttribute(wxT("imScanType"), &m_imScanType, 0);
    AddAttribute(wxT("percentComplete"), &m_percentComplete, 0);
    AddAttribute(wxT("pendingScanBitmask"), &m_pendingScanBitmask, 0);
    AddAttribute(wxT("highestEntityId"), &m_highestEntityId, 0, false);
    AddAttribute(wxT("imCapabilityMask"), &m_imCapabilityMask, 0);
    AddAttribute(wxT("eventMode"), &m_eventMode, 0);
}

wxString CImScanStatus::GetElementName() const { return wxT("ImScanStatus"); }

}  // namespace KvoPluginIm
