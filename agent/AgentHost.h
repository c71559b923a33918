// CAgentHost: reads the command line, creates the agent and runs one command.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <wx/string.h>

#include "agent/KeyCommand.h"
#include "agent/QueryCommand.h"
#include "core/GlobalOptions.h"

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoAgent {

class CWorkdirLock;

// Exit statuses shared by every command.
enum ExitStatus {
    ExitOk = 0,
    ExitBaselineFirst = 16,  // check: a baseline was recorded instead (below it, the bits of what changed)
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
    int CheckArguments();
    int StartAgent();
    int RunCommand();
    int Exec();
    bool AskRunningAgent(int& status);
    int TakeWorkdir(CWorkdirLock& lock);
    int CheckDatabase();
    static void AskPluginForStatus(KvoCore::CDom& dom);
    static bool HasSchema(KvoCore::CSqliteDatabase& db);
    int RunAgentScript();
    int RunRulesTool(int argc, char** argv);
    static void PrintHelp();
    static int UsageError(const std::string& message);

    KvoCore::CGlobalOptions m_options;
    wxString m_startDir;  // where the user stood; the agent runs in its work directory
    std::string m_command;
    std::vector<std::string> m_arguments;
    std::unique_ptr<CQueryCommand> m_query;  // for the commands that only read
    std::unique_ptr<CKeyCommand> m_keyCommand;
};

}  // namespace KvoAgent
