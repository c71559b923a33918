// CIntegrityRuleAssignment: the id of a rule assigned to this host
// (<IntegrityRuleAssignment integrityRuleId="..."/>).
#pragma once

#include "core/XMLObject.h"
#include "core/XMLObjectList.h"

namespace KvoPluginIm {

class CIntegrityRuleAssignment : public KvoCore::XMLObject {
public:
    CIntegrityRuleAssignment();
    wxString GetElementName() const override;

    long long GetIntegrityRuleId() const { return m_integrityRuleId; }
    void SetIntegrityRuleId(long long id) { m_integrityRuleId = id; }

private:
    long long m_integrityRuleId = 0;
};

// The <IntegrityRuleAssignments> list, wrapped.
class CIntegrityRuleAssignments : public KvoCore::XMLObjectList {
public:
    CIntegrityRuleAssignments() : XMLObjectList(false, false) {}
    wxString GetElementName() const override;
    wxString ChildElementName() const override;
    KvoCore::XMLObject* CreateListElement() override;
};

}  // namespace KvoPluginIm
