// CScanCommand: the commands that run one integrity scan to its end and
// report it (`baseline`; `check` will follow the same road). The caller holds
// the work-directory lock. The agent runs as `run` runs it, from an agent
// script that first asks for the scan; this class watches si.db (read-only)
// until that scan has completed, shows progress on a terminal, stops the agent
// and prints the summary. SIGINT/SIGTERM stop the agent with the scan left
// resumable. Used once, on the main thread.
#pragma once

#include <string>

#include "agent/ScanWatch.h"
#include "core/Dom.h"

namespace KvoCore {
class CLuaThread;
}

namespace KvoAgent {

class CScanCommand {
public:
    struct ScanKind {
        int scanType;        // the scan's kind as "Scans" stores it
        const char* name;    // the command, and the scan's name in messages
        const char* script;  // the agent script (agent/lua) that asks for the scan
    };
    static const ScanKind s_Baseline;

    CScanCommand(KvoCore::CDom& dom, const ScanKind& kind, std::string scriptDir);
    CScanCommand(const CScanCommand&) = delete;
    CScanCommand& operator=(const CScanCommand&) = delete;

    // The command's exit status.
    int Run();

private:
    enum class Outcome { Completed, Failed, Unreadable, AgentEnded, Interrupted };

    int CheckSettings() const;
    int StartWatch(CScanWatch& watch);
    Outcome Wait(CScanWatch& watch, KvoCore::CLuaThread& agent, CScanWatch::Status& status);
    wxString ProgressText(const CScanWatch::Status& status, wxString& detail) const;
    int Report(Outcome outcome, const CScanWatch::Status& status, const CScanWatch::Summary& summary,
               KvoCore::CLuaThread& agent) const;
    void PrintSummary(const CScanWatch::Summary& summary) const;
    std::string DatabasePath() const;

    KvoCore::CDom m_dom;
    const ScanKind& m_kind;
    const std::string m_scriptDir;
};

}  // namespace KvoAgent
