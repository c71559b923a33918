// CScanCommand: the commands that run one integrity scan to its end and
// report it: `baseline` (the entities recorded) and `check` (an incremental
// scan's events, or, when the agent had to record a baseline instead, that
// baseline). Run on its own, the caller holds the work-directory lock and the
// agent runs as `run` runs it, from an agent script that first asks for the
// scan; inside a running agent, for a client of its control socket, the scan
// is asked of that agent. This class watches si.db (read-only) until the scan
// has completed, shows progress on a terminal and the events as they are
// recorded, stops the agent it started and reports. SIGINT/SIGTERM stop the
// agent with the scan left resumable. Used once, on one thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/CommandStreams.h"
#include "agent/EventTail.h"
#include "agent/ScanWatch.h"
#include "core/Dom.h"

namespace KvoCore {
class CLuaThread;
}

namespace KvoAgent {

class CProgressLine;

class CScanCommand {
public:
    struct ScanKind {
        int scanType;         // the scan's kind as "Scans" stores it
        const char* name;     // the command, and the scan's name in messages
        const char* needKey;  // the state key that asks the agent for the scan
    };
    static const ScanKind s_Baseline;
    static const ScanKind s_Check;
    // The kind that command names, when arguments are its own (check takes
    // --json, which sets json); null with the reason in error otherwise.
    static const ScanKind* Parse(const std::string& command, const std::vector<std::string>& arguments, bool& json,
                                 std::string& error);

    // json: `check` prints its events as JSON lines.
    CScanCommand(KvoCore::CDom& dom, const ScanKind& kind, std::string scriptDir, bool json = false,
                 const CCommandStreams& io = CCommandStreams());
    // Asked now and then while waiting: true ends the wait as an interruption
    // (the client of a running agent has gone; the scan goes on).
    void SetAbandoned(std::function<bool()> abandoned) { m_abandoned = std::move(abandoned); }
    // Inside a running agent: wakes its control thread, so that it sees the request at once.
    void SetWakeAgent(std::function<void()> wake) { m_wakeAgent = std::move(wake); }
    CScanCommand(const CScanCommand&) = delete;
    CScanCommand& operator=(const CScanCommand&) = delete;

    // The command's exit status.
    int Run();

private:
    enum class Outcome { Completed, Failed, Unreadable, AgentEnded, Interrupted, DiskFull };
    int CheckSettings() const;
    int StartWatch(CScanWatch& watch);
    std::unique_ptr<KvoCore::CLuaThread> StartAgent(const CScanWatch& watch);
    void AskRunningAgent(const CScanWatch& watch);
    Outcome Wait(CScanWatch& watch, const KvoCore::CLuaThread* agent, CScanWatch::Status& status);
    void ShowEvents(CProgressLine* progress);
    wxString ProgressText(const CScanWatch::Status& status, wxString& detail) const;
    Outcome ReadResult(CScanWatch& watch, CScanWatch::Status& status, CScanWatch::Summary& summary,
                       std::vector<CScanWatch::Rule>& rules) const;
    int Report(Outcome outcome, const CScanWatch::Status& status, const CScanWatch::Summary& summary,
               const std::vector<CScanWatch::Rule>& rules, const KvoCore::CLuaThread* agent);
    void ReportDiskFull(const CScanWatch::Status& status) const;
    int ReportCompleted(const CScanWatch::Summary& summary, const std::vector<CScanWatch::Rule>& rules);
    int ReportBaselineFirst(const CScanWatch::Summary& summary, const std::vector<CScanWatch::Rule>& rules) const;
    int ReportChanges(const CScanWatch::Summary& summary);
    void PrintSummary(const CScanWatch::Summary& summary) const;
    std::string DatabasePath() const;

    KvoCore::CDom m_dom;
    const ScanKind& m_kind;
    const std::string m_scriptDir;
    const bool m_json;
    const CCommandStreams m_io;
    std::function<bool()> m_abandoned;
    std::function<void()> m_wakeAgent;
    CEventTail m_tail;
    std::map<int, long long> m_shownCounts;  // events shown, per change
    const char* m_baselineReason = "";  // why the agent records a baseline instead
};

}  // namespace KvoAgent
