#include "plugins/im/SqlRegistryEntitySet.h"

#include <wx/regex.h>

#include "plugins/im/RecordRegEx.h"

namespace KvoPluginIm {

CSqlRegistryEntitySet::CSqlRegistryEntitySet() {
    AddAttribute(wxT("registryKey"), &m_registryKey);
    AddAttribute(wxT("registryKeySearchBase"), &m_registryKeySearchBase);
    AddAttribute(wxT("registryKeyRegEx"), &m_registryKeyRegEx);
}

CSqlRegistryEntitySet::~CSqlRegistryEntitySet() = default;

void CSqlRegistryEntitySet::EndElement() { m_searchRegEx = CRecordRegEx::Compile(m_registryKeyRegEx, true); }

void CSqlRegistryEntitySet::SetToDefaults() {
    CSqlEntitySet::SetToDefaults();
    m_searchRegEx.reset();
}

void CSqlRegistryEntitySet::SetRegistryKey(const wxString& key) {
    m_registryKey = key;
    SetAttributeNull(&m_registryKey, false);
}

void CSqlRegistryEntitySet::SetRegistryKeySearchBase(const wxString& searchBase) {
    m_registryKeySearchBase = searchBase;
    SetAttributeNull(&m_registryKeySearchBase, false);
}

void CSqlRegistryEntitySet::SetRegistryKeyRegEx(const wxString& regEx) {
    m_registryKeyRegEx = regEx;
    SetAttributeNull(&m_registryKeyRegEx, false);
}

}  // namespace KvoPluginIm
