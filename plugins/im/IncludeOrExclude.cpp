#include "plugins/im/IncludeOrExclude.h"

#include <wx/txtstrm.h>

#include "plugins/im/EntitySet.h"
#include "plugins/im/RuleNames.h"

namespace KvoPluginIm {

CIncludeOrExclude::CIncludeOrExclude(const CEntitySet& owner) : m_owner(owner) {
    AddAttribute(wxT("key"), &m_key);
    AddAttribute(wxT("caseSensitive"), &m_caseSensitive);
    AddChild(&m_keys);
}

void CIncludeOrExclude::PrintAttributes(wxTextOutputStream& out) const {
    XMLObject::PrintAttributes(out);
    for (const auto& feature : m_features)
        out << wxT(' ') << feature.first << wxT("=\"") << EscapeXml(feature.second) << wxT('"');
    for (const wxString& name : m_unsupportedFeatures) out << wxT(' ') << name << wxT("=\"unsupported\"");
    for (const wxString& name : m_unrecognisedFeatures) out << wxT(' ') << name << wxT("=\"unknown\"");
}

bool CIncludeOrExclude::HasChildElements() const { return m_keys.HasChildElements(); }

void CIncludeOrExclude::SetToDefaults() {
    XMLObject::SetToDefaults();
    m_features.clear();
    m_unrecognisedFeatures.clear();
    m_unsupportedFeatures.clear();
}

void CIncludeOrExclude::OnUnhandledAttribute(const wxString& name, const wxString& value) {
    if (m_allowedFeatures.empty()) AddStringsToSet(m_owner.GetAllowedFeatures(), m_allowedFeatures);
    if (m_allowedFeatures.count(name.Lower()) != 0) {
        m_features[name] = value;
        return;
    }
    if (IsListedName(ValidFeatureNames, name)) {
        m_unsupportedFeatures.insert(name);
        return;
    }
    m_unrecognisedFeatures.insert(name);
    XMLObject::OnUnhandledAttribute(name, value);
}

}  // namespace KvoPluginIm
