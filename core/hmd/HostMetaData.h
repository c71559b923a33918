// CHostMetaData: one object the host reports (a user, a port, a package...):
// its type, its key, and named attributes in the order they were added, each
// with one or more text values. An attribute with no value is never stored.
// Not synchronised: one thread at a time.
#pragma once

#include <utility>
#include <vector>

#include <wx/arrstr.h>
#include <wx/string.h>

namespace KvoCore {

class CHostMetaData {
public:
    using Attribute = std::pair<wxString, wxArrayString>;

    CHostMetaData(const wxString& type, const wxString& key);

    const wxString& GetType() const { return m_type; }
    const wxString& GetKey() const { return m_key; }

    // The first value of the attribute; false when there is no such attribute.
    bool GetAttribute(const wxString& name, wxString& value) const;
    // Adds a value to the named attribute, creating it last when missing.
    void AppendAttribute(const wxString& name, const wxString& value);
    const std::vector<Attribute>& GetAttributes() const { return m_attributes; }

private:
    // Index into m_attributes, or npos.
    size_t Find(const wxString& name) const;
    static constexpr size_t npos = static_cast<size_t>(-1);

    wxString m_type;
    wxString m_key;
    std::vector<Attribute> m_attributes;
};

}  // namespace KvoCore
