// CIntegrityKey: where the key of the integrity database comes from: the file
// that <AgentConfiguration integrityDatabaseKeyFile="PATH"/> names (relative
// to the configuration file), else the systemd credential "kvo-db-key" in
// $CREDENTIALS_DIRECTORY. The file holds one key specification on one line.
// Only a file that no one but the agent's user can read or write is accepted.
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
    // Reads the configured key into the agent (CDom::SetIntegrityDbKey); no
    // key configured leaves it unset. False with the reason in error.
    static bool Load(KvoCore::CDom& dom, const wxString& configDir, std::string& error);
    // The key specification in path, checked as above.
    static bool ReadFile(const std::string& path, std::string& specification, std::string& error);
    // Before the agent uses the database at path: a plain file is encrypted
    // with the configured key once (and the log says so); a file the key does
    // not open is left as it is. An exit status.
    static int PrepareDatabase(KvoCore::CDom& dom, const wxString& path);
    // The specification that names key again.
    static std::string Specification(const KvoCore::CDatabaseKey& key);
};

}  // namespace KvoAgent
