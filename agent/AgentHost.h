// CAgentHost: reads the command line, creates the agent and runs one command.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <wx/string.h>

namespace KvoAgent {

// Exit statuses shared by every command.
enum ExitStatus {
    ExitOk = 0,
    ExitUsage = 64,
    ExitBadInput = 65,
    ExitDatabase = 69,
    ExitInternal = 70,
    ExitTryAgain = 75,
};

class CAgentHost {
public:
    int Main(int argc, char** argv);

private:
    int ParseGlobalOptions(int argc, char** argv, int& next);
    int StartAgent();
    int RunCommand();
    static void PrintUsage();

    wxString m_config;
    wxString m_workdir;
    std::string m_trace;
    std::vector<std::pair<std::string, std::string>> m_settings;
    std::string m_command;
    std::vector<std::string> m_arguments;
};

}  // namespace KvoAgent
