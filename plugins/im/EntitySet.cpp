#include "plugins/im/EntitySet.h"

#include <wx/txtstrm.h>

namespace KvoPluginIm {

CEntitySet::CEntitySet()
    : m_operations(*this), m_includes(*this), m_excludes(*this), m_attributesToMonitor(*this) {
    AddAttribute(wxT("onChange"), &m_onChange, true);
    AddChild(&m_operations);
    AddChild(&m_includes);
    AddChild(&m_excludes);
    AddChild(&m_attributesToMonitor);
}

wxString CEntitySet::GetAllowedFeatures() const { return wxString(); }

void CEntitySet::PrintAttributes(wxTextOutputStream& out) const {
    XMLObject::PrintAttributes(out);
    for (const wxString& name : m_unrecognisedAttributes) out << wxT(' ') << name << wxT("=\"unknown\"");
}

void CEntitySet::SetToDefaults() {
    XMLObject::SetToDefaults();
    m_unrecognisedAttributes.clear();
}

// The value is of no use to anyone: an attribute the kind does not register
// has no meaning to store.
void CEntitySet::OnUnhandledAttribute(const wxString& name, const wxString&) {
    m_unrecognisedAttributes.insert(name);
}

}  // namespace KvoPluginIm
