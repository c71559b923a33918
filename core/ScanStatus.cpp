#include "core/ScanStatus.h"

namespace KvoCore {

CScanStatus::CScanStatus() {
    AddAttribute(wxT("scanError"), &m_scanError, false);
    AddAttribute(wxT("status"), &m_status, Idle);
    AddAttribute(wxT("interactive"), &m_interactive, 1);
}

wxString CScanStatus::GetElementName() const { return wxT("ScanStatus"); }

}  // namespace KvoCore
