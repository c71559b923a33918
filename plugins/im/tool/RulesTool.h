// CRulesTool: the command line of kvo-rules, the rule authors' tool. It takes
// the agent's global options (and kvo-agent hands it its whole command line),
// creates the agent object and runs one command: `rules` or `glob`.
#pragma once

#include <wx/string.h>

#include "core/GlobalOptions.h"
#include "plugins/im/tool/RulesCommand.h"

#include <string>
#include <utility>
#include <vector>

namespace KvoPluginIm {

class CRulesTool {
public:
    // The agent's exit statuses that this tool uses.
    enum ExitStatus {
        ExitOk = 0,
        ExitNotAccepted = 1,
        ExitUsage = 64,
        ExitBadInput = 65,
        ExitDatabase = 69,
        ExitInternal = 70,
    };

    int Main(int argc, char** argv);

private:
    // -1 to go on, or the exit status to end with.
    // Creates the agent object; the configuration is read only when wanted.
    int StartAgent(bool readConfiguration);
    int RunRules();
    int RunGlob();
    // --plan and --why: the agent object on a scratch copy of the database.
    int RunOnScratchCopy(const CRulesCommand& command);
    static int Fail(const wxString& message, int status);
    static void PrintHelp();
    static int UsageError(const std::string& message);

    KvoCore::CGlobalOptions m_options;
    std::string m_command;
    std::vector<std::string> m_arguments;
};

}  // namespace KvoPluginIm
