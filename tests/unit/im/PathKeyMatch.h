// Test key matcher of path keys.
#pragma once

#include <wx/string.h>

#include "plugins/im/SystemIntegrityKeyMatch.h"

namespace KvoTest {

// A path-keyed matcher with the host's case rule given, for types whose own
// matcher adds nothing to the comparison.
class PathKeyMatch : public KvoPluginIm::CSystemIntegrityKeyMatch {
public:
    explicit PathKeyMatch(bool caseSensitive, const wxString& type = wxT("File"))
        : m_caseSensitive(caseSensitive), m_type(type) {}
    bool EntityKeysAreCaseSensitive() const override { return m_caseSensitive; }
    wxString GetEntityType() const override { return m_type; }

private:
    bool m_caseSensitive;
    wxString m_type;
};

}  // namespace KvoTest
