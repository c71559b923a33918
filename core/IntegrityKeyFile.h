// CIntegrityKeyFile: where the key of the integrity database comes from: the
// file that <AgentConfiguration integrityDatabaseKeyFile="PATH"/> names
// (relative to the configuration file), else the systemd credential
// "kvo-db-key" in $CREDENTIALS_DIRECTORY. The file holds one key text
// on one line. Only a file that no one but the agent's user can read or write
// is accepted. The agent and the rule authors' tool read it alike.
#pragma once

#include <string>

#include <wx/string.h>

namespace KvoCore {

class CDom;

class CIntegrityKeyFile {
public:
    // Reads the configured key into the agent (CDom::SetIntegrityDbKey); no
    // key configured leaves it unset. False with the reason in error.
    static bool Load(CDom& dom, const wxString& configDir, std::string& error);
    // The key text in path, checked as above.
    static bool ReadFile(const std::string& path, std::string& keyText, std::string& error);
};

}  // namespace KvoCore
