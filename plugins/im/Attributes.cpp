#include "plugins/im/Attributes.h"

#include <wx/txtstrm.h>

#include "plugins/im/AttributeDummyObject.h"
#include "plugins/im/EntitySet.h"
#include "plugins/im/RuleNames.h"

namespace KvoPluginIm {

namespace {

void PrintEmptyElements(wxTextOutputStream& out, const wxString& indent, const KvoCore::WxStringSet& names) {
    for (const wxString& name : names) out << indent << wxT('<') << name << wxT(" />\n");
}

}  // namespace

CAttributes::CAttributes(const CEntitySet& owner) : m_owner(owner) {}

wxString CAttributes::GetElementName() const { return wxT("Attributes"); }

void CAttributes::PrintChildElements(wxTextOutputStream& out, unsigned int indent) const {
    const wxString prefix = Indent(indent);
    PrintEmptyElements(out, prefix, m_monitored);
    PrintEmptyElements(out, prefix, m_unsupported);
    PrintEmptyElements(out, prefix, m_unrecognised);
}

void CAttributes::EnumChildObjects(const std::function<bool(const KvoCore::XMLObject&)>& fn) const {
    for (const wxString& name : m_monitored)
        if (!fn(AttributeDummyObject(name))) return;
}

bool CAttributes::HasChildElements() const {
    return !m_monitored.empty() || !m_unrecognised.empty() || !m_unsupported.empty();
}

void CAttributes::SetToDefaults() {
    XMLObject::SetToDefaults();
    m_monitored.clear();
    m_unrecognised.clear();
    m_unsupported.clear();
}

void CAttributes::OnUnhandledChildElement(const wxString& name) {
    if (m_allowed.empty()) AddStringsToSet(m_owner.GetAllowedAttributes(), m_allowed);
    if (AddIfAllowed(name.Lower())) return;
    if (IsListedName(ValidAttributeNames, name)) {
        m_unsupported.insert(name);
        return;
    }
    m_unrecognised.insert(name);
    XMLObject::OnUnhandledChildElement(name);
}

// A kind that offers no attribute at all (WQL) monitors nothing: its keywords
// are judged like any other name.
bool CAttributes::AddIfAllowed(const wxString& lower) {
    if (m_allowed.empty()) return false;
    if (m_allowed.count(lower) != 0) {
        m_monitored.insert(lower);
        return true;
    }
    if (lower == wxT("standard")) {
        AddStringsToSet(m_owner.GetStandardAttributes(), m_monitored);
        return true;
    }
    if (lower == wxT("all")) {
        m_monitored.insert(m_allowed.begin(), m_allowed.end());
        return true;
    }
    return false;
}

void CAttributes::GetAttributesToMonitor(KvoCore::WxStringSet& out) const {
    out.clear();
    if (!WasParsed()) {
        AddStringsToSet(m_owner.GetStandardAttributes(), out);
        return;
    }
    out = m_monitored;
}

}  // namespace KvoPluginIm
