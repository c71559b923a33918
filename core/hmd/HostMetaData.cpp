#include "core/hmd/HostMetaData.h"

namespace KvoCore {

CHostMetaData::CHostMetaData(const wxString& type, const wxString& key) : m_type(type), m_key(key) {}

size_t CHostMetaData::Find(const wxString& name) const {
    for (size_t i = 0; i < m_attributes.size(); ++i)
        if (m_attributes[i].first == name) return i;
    return npos;
}

bool CHostMetaData::GetAttribute(const wxString& name, wxString& value) const {
    size_t index = Find(name);
    if (index == npos) return false;
    value = m_attributes[index].second[0];
    return true;
}

void CHostMetaData::AppendAttribute(const wxString& name, const wxString& value) {
    size_t index = Find(name);
    if (index == npos) {
        index = m_attributes.size();
        m_attributes.emplace_back(name, wxArrayString());
    }
    m_attributes[index].second.Add(value);
}

}  // namespace KvoCore
