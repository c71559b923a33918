// Test key matcher of name keys.
#pragma once

#include <wx/string.h>

#include "plugins/im/SystemIntegrityKeyMatch.h"

namespace KvoTest {

// Keys of user names: no separator inside a key, case ignored by default.
class NameKeyMatch : public KvoPluginIm::CSystemIntegrityKeyMatch {
public:
    wxString GetEntityKeySeparator() const override { return wxString(); }
    wxString GetEntityType() const override { return wxT("User"); }
};

}  // namespace KvoTest
