// CGlobalOptions: the global options every agent program takes before its
// command (--config, --workdir, --trace, --set KEY=VALUE, --help, --version),
// with their defaults, so that kvo-agent and the tools beside it agree.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <wx/string.h>

#include "core/InstallLayout.h"

namespace KvoCore {

class CDom;

class CGlobalOptions {
public:
    enum class Outcome { Command, Help, Version, UsageError };

    // Reads options from argv[next] on; next ends on the command. On a usage
    // error, error says what is wrong.
    Outcome Parse(int argc, char** argv, int& next, std::string& error);
    // Parse, answering --help (printHelp) and --version ("PROGRAM VERSION")
    // the same way in every program: -1 when a command follows, else the exit
    // status (0, or what usageError returns for the error).
    int ParseCommandLine(int argc, char** argv, int& next, const char* program, void (*printHelp)(),
                         int (*usageError)(const std::string&));
    // Sets the --set keys on the agent, typed as CDom::SetFromText does.
    void ApplySettings(CDom& dom) const;

    wxString config = wxString::FromUTF8(CInstallLayout::DefaultConfig().c_str());
    wxString workdir = wxString::FromUTF8(CInstallLayout::DefaultWorkdir().c_str());
    std::string trace;  // starts from KVO_TRACE
    std::vector<std::pair<std::string, std::string>> settings;
};

}  // namespace KvoCore
