#include "plugins/im/IntegrityRuleAssignment.h"

namespace KvoPluginIm {

CIntegrityRuleAssignment::CIntegrityRuleAssignment() {
    AddAttribute(wxT("integrityRuleId"), &m_integrityRuleId, 0, false);
}

wxString CIntegrityRuleAssignment::GetElementName() const { return wxT("IntegrityRuleAssignment"); }

wxString CIntegrityRuleAssignments::GetElementName() const { return wxT("IntegrityRuleAssignments"); }

wxString CIntegrityRuleAssignments::ChildElementName() const { return wxT("IntegrityRuleAssignment"); }

KvoCore::XMLObject* CIntegrityRuleAssignments::CreateListElement() { return new CIntegrityRuleAssignment(); }

}  // namespace KvoPluginIm
