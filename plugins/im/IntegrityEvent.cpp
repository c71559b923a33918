#include "plugins/im/IntegrityEvent.h"

namespace KvoPluginIm {

CIntegrityEvent::CIntegrityEvent() {
    // Its ten and the three a stored event adds.
    ReserveAttributes(13);
    AddAttribute(wxT("integrityEventId"), &m_integrityEventId, 0, true);
    AddAttribute(wxT("recorded"), &m_recorded, 0, false);
    AddAttribute(wxT("status"), &m_status, 0);
    AddAttribute(wxT("integrityRuleId"), &m_integrityRuleId, 0);
    AddAttribute(wxT("change"), &m_change, 0);
    AddAttribute(wxT("severity"), &m_severity, 0);
    AddAttribute(wxT("wasEntity"), &m_wasEntity, 0, false);
    AddAttribute(wxT("isEntity"), &m_isEntity, 0, false);
    AddAttribute(wxT("user"), &m_user);
    AddAttribute(wxT("process"), &m_process);
}

wxString CIntegrityEvent::GetElementName() const { return wxT("IntegrityEvent"); }

wxString CIntegrityEvents::GetElementName() const { return wxT("IntegrityEvents"); }

wxString CIntegrityEvents::ChildElementName() const { return wxT("IntegrityEvent"); }

KvoCore::XMLObject* CIntegrityEvents::CreateListElement() { return new CIntegrityEvent(); }

}  // namespace KvoPluginIm
