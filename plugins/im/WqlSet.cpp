#include "plugins/im/WqlSet.h"

namespace KvoPluginIm {

CWqlSet::CWqlSet() {
    AddAttribute(wxT("namespace"), &m_namespace);
    AddAttribute(wxT("wql"), &m_wql);
    AddAttribute(wxT("provider"), &m_provider);
    AddAttribute(wxT("timeout"), &m_timeout, 0);
}

wxString CWqlSet::GetElementName() const { return wxT("WQLSet"); }

wxString CWqlSet::GetAllowedAttributes() const { return wxString(); }

wxString CWqlSet::GetStandardAttributes() const { return wxString(); }

wxString CWqlSets::GetElementName() const { return wxT("WqlSets"); }

wxString CWqlSets::ChildElementName() const { return wxT("WQLSet"); }

KvoCore::XMLObject* CWqlSets::CreateListElement() { return new CWqlSet(); }

}  // namespace KvoPluginIm
