// CKeyCommand: the commands about the integrity database's key.
//   decrypt [--key SPEC | --key-file FILE] SOURCE TARGET
//       writes a plain copy of an encrypted database through the module's
//       "DecryptDatabase_l" (without a key option, with the configured key);
//   rekey --key-file NEW
//       re-encrypts the work directory's si.db with the key in NEW.
#pragma once

#include <string>
#include <vector>

#include <wx/string.h>

namespace KvoCore {
class CDom;
}

namespace KvoAgent {

class CKeyCommand {
public:
    static bool Handles(const std::string& command) { return command == "decrypt" || command == "rekey"; }
    explicit CKeyCommand(const std::string& command) : m_command(command) {}

    // Relative paths are taken from startDir. False with the usage error.
    bool Parse(const std::vector<std::string>& arguments, const wxString& startDir, std::string& error);
    // Exit status; rekey needs the work directory's lock held.
    int Run(KvoCore::CDom& dom) const;

private:
    int Decrypt(KvoCore::CDom& dom) const;
    int Rekey(KvoCore::CDom& dom) const;
    // The key text the options give (65 when a key file is refused).
    int KeyText(KvoCore::CDom& dom, std::string& keyText) const;

    std::string m_command;
    std::string m_key;      // --key
    std::string m_keyFile;  // --key-file
    std::vector<std::string> m_paths;
};

}  // namespace KvoAgent
