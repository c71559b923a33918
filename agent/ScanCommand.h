// CScanCommand: the commands that run one integrity scan to its end and
// report it: `baseline` (the entities recorded) and `check` (an incremental
// scan's events, or, when the agent had to record a baseline instead, that
// baseline). The caller holds the work-directory lock. The agent runs as `run`
// runs it, from an agent script that first asks for the scan; this class
// watches si.db (read-only) until that scan has completed, shows progress on a
// terminal, stops the agent and reports. SIGINT/SIGTERM stop the agent with
// the scan left resumable. Used once, on the main thread.
#pragma once

#include <string>
#include <vector>

#include "agent/ScanWatch.h"
#include "core/Dom.h"

namespace KvoCore {
class CLuaThread;
}

namespace KvoAgent {

class CScanCommand {
public:
    struct ScanKind {
        int scanType;         // the scan's kind as "Scans" stores it
        const char* name;     // the command, and the scan's name in messages
        const char* needKey;  // the state key that asks the agent for the scan
    };
    static const ScanKind s_Baseline;
    static const ScanKind s_Check;

    // json: `check` prints its events as JSON lines.
    CScanCommand(KvoCore::CDom& dom, const ScanKind& kind, std::string scriptDir, bool json = false);
    CScanCommand(const CScanCommand&) = delete;
    CScanCommand& operator=(const CScanCommand&) = delete;

    // The command's exit status.
    int Run();

private:
    enum class Outcome { Completed, Failed, Unreadable, AgentEnded, Interrupted };
    // Where the events of the scan will be found once it has completed.
    struct EventsFrom {
        long long afterEventId = 0;  // event mode 1: rows after this id
        long long jsonOffset = 0;    // event mode 2: lines after this offset
    };

    int CheckSettings() const;
    int StartWatch(CScanWatch& watch);
    Outcome Wait(CScanWatch& watch, KvoCore::CLuaThread& agent, CScanWatch::Status& status);
    wxString ProgressText(const CScanWatch::Status& status, wxString& detail) const;
    Outcome ReadResult(CScanWatch& watch, CScanWatch::Status& status, CScanWatch::Summary& summary,
                       std::vector<CScanWatch::Rule>& rules) const;
    int Report(Outcome outcome, const CScanWatch::Status& status, const CScanWatch::Summary& summary,
               const std::vector<CScanWatch::Rule>& rules, KvoCore::CLuaThread& agent) const;
    int ReportCompleted(const CScanWatch::Summary& summary, const std::vector<CScanWatch::Rule>& rules) const;
    int ReportBaselineFirst(const CScanWatch::Summary& summary, const std::vector<CScanWatch::Rule>& rules) const;
    int ReportChanges(const CScanWatch::Summary& summary) const;
    void PrintSummary(const CScanWatch::Summary& summary) const;
    std::string JsonEventPath() const;
    std::string DatabasePath() const;

    KvoCore::CDom m_dom;
    const ScanKind& m_kind;
    const std::string m_scriptDir;
    const bool m_json;
    const char* m_baselineReason = "";  // why the agent records a baseline instead
    EventsFrom m_eventsFrom;
};

}  // namespace KvoAgent
