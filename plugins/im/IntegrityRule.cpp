#include "plugins/im/IntegrityRule.h"

#include <wx/txtstrm.h>

#include "plugins/im/HostPlatform.h"
#include "plugins/im/RuleNames.h"

namespace KvoPluginIm {

CIntegrityRule::CIntegrityRule() {
    AddAttribute(wxT("allowOnChange"), &m_allowOnChange, false);
    AddAttribute(wxT("confidential"), &m_confidential, false);
    AddAttribute(wxT("hash"), &m_hash);
    AddAttribute(wxT("identifier"), &m_identifier);
    AddAttribute(wxT("severity"), &m_severity, 0);
    AddAttribute(wxT("type"), &m_type, 0);
    AddChild(&m_dirSets);
    AddChild(&m_fileSets);
    AddChild(&m_groupSets);
    AddChild(&m_installedSoftwareSets);
    AddChild(&m_portSets);
    AddChild(&m_processSets);
    AddChild(&m_userSets);
    if (IsWindowsHost()) {
        AddChild(&m_registryKeySets);
        AddChild(&m_registryValueSets);
        AddChild(&m_serviceSets);
        AddChild(&m_wqlSets);
    }
}

wxString CIntegrityRule::GetElementName() const { return wxT("IntegrityRule"); }

void CIntegrityRule::PrintChildElements(wxTextOutputStream& out, unsigned int indent) const {
    const wxString prefix = Indent(indent);
    for (const wxString& name : m_unsupportedChildren) out << prefix << wxT('<') << name << wxT("/>\n");
    for (const wxString& name : m_unrecognisedChildren) out << prefix << wxT('<') << name << wxT("/>\n");
    CIdNameObject::PrintChildElements(out, indent);
}

bool CIntegrityRule::HasChildElements() const {
    return !m_unsupportedChildren.empty() || !m_unrecognisedChildren.empty() ||
           CIdNameObject::HasChildElements();
}

void CIntegrityRule::SetToDefaults() {
    CIdNameObject::SetToDefaults();
    m_unrecognisedChildren.clear();
    m_unsupportedChildren.clear();
}

void CIntegrityRule::OnUnhandledChildElement(const wxString& name) {
    if (IsListedName(ValidEntitySetElementNames, name))
        m_unsupportedChildren.insert(name);
    else
        m_unrecognisedChildren.insert(name);
    CIdNameObject::OnUnhandledChildElement(name);
}

void CIntegrityRule::ForEachEntitySet(const std::function<void(const CEntitySet&)>& fn) const {
    for (const KvoCore::XMLObject* child : m_children) {
        const auto* list = dynamic_cast<const KvoCore::XMLObjectList*>(child);
        if (list == nullptr) continue;
        for (const KvoCore::XMLObject* member : list->Children())
            if (const auto* set = dynamic_cast<const CEntitySet*>(member)) fn(*set);
    }
}

wxString CIntegrityRules::GetElementName() const { return wxT("IntegrityRules"); }

wxString CIntegrityRules::ChildElementName() const { return wxT("IntegrityRule"); }

KvoCore::XMLObject* CIntegrityRules::CreateListElement() { return new CIntegrityRule(); }

}  // namespace KvoPluginIm
