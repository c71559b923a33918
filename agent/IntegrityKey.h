// CIntegrityKey: the agent's use of the integrity database key that
// KvoCore::CIntegrityKeyFile reads: a plain database encrypted once, and the
// text that names a key again.
#pragma once

#include <string>

#include <wx/string.h>

#include "core/DatabaseKey.h"

namespace KvoCore {
class CDom;
}

namespace KvoAgent {

class CIntegrityKey {
public:
    // Before the agent uses the database at path: a plain file is encrypted
    // with the configured key once (and the log says so); a file the key does
    // not open is left as it is. An exit status.
    static int PrepareDatabase(KvoCore::CDom& dom, const wxString& path);
    // The key text that names key again.
    static std::string KeyText(const KvoCore::CDatabaseKey& key);
};

}  // namespace KvoAgent
