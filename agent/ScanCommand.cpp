#include "agent/ScanCommand.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>

#include "agent/AgentHost.h"
#include "agent/ChangeReport.h"
#include "agent/ProgressLine.h"
#include "agent/Utf8.h"
#include "core/Log.h"
#include "core/LuaThread.h"
#include "agent/PluginKeys.h"

namespace KvoAgent {

namespace {

// Often enough for a progress line that looks alive, rarely enough to cost the scan nothing.
const unsigned int kPollMs = 250;

// Scanner steps, as a subscan row records them.
const int kStepMatch = 200000;
const int kStepRealtime = 250000;
const int kStepAttributes = 300000;
const int kStepExternal = 350000;
const int kStepPostProcessing = 400000;

// What the subscan that runs is doing, and on what: during the walk its
// checkpoint is "<entitySetId>:<directory>", while attributes are read the
// last key done (as committed, so in steps).
wxString StepText(const CScanWatch::Status& status, wxString& detail) {
    switch (status.step) {
        case kStepMatch:
            detail = status.checkpoint.AfterFirst(':');
            return "walking";
        case kStepRealtime:
            return "processing real-time changes";
        case kStepAttributes:
            detail = status.checkpoint;
            return "reading attributes";
        case kStepExternal:
            return "receiving external entities";
        case kStepPostProcessing:
            return "closing";
        default:
            return status.step < kStepMatch ? "starting" : "finishing";
    }
}

// The mount point of the file system holding path: the last directory up
// from it on the same device.
std::string MountPoint(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return path;
    std::string mount = path;
    while (mount.size() > 1) {
        const size_t slash = mount.find_last_of('/', mount.size() - 2);
        const std::string parent = slash == 0 || slash == std::string::npos ? "/" : mount.substr(0, slash);
        struct stat up;
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
        mount = parent;
    }
    return mount;
}

long long FileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

}  // namespace

const CScanCommand::ScanKind CScanCommand::s_Baseline = {0, "baseline", PluginKeys::kNeedRebuildBaseline};
const CScanCommand::ScanKind CScanCommand::s_Check = {1, "check", PluginKeys::kNeedIncrementalScan};

const CScanCommand::ScanKind* CScanCommand::Parse(const std::string& command, const std::vector<std::string>& arguments,
                                                  bool& json, std::string& error) {
    json = command == s_Check.name && arguments.size() == 1 && arguments[0] == "--json";
    if (command == s_Baseline.name && arguments.empty()) return &s_Baseline;
    if (command == s_Check.name && (arguments.empty() || json)) return &s_Check;
    error = command == s_Baseline.name ? "baseline takes no arguments"
            : command == s_Check.name  ? "check takes only --json"
                                       : command + " is no scan command";
    return nullptr;
}

CScanCommand::CScanCommand(KvoCore::CDom& dom, const ScanKind& kind, std::string scriptDir, bool json,
                           const CCommandStreams& io)
    : m_dom(dom), m_kind(kind), m_scriptDir(std::move(scriptDir)), m_json(json), m_io(io), m_tail(dom, m_scriptDir, true) {}

int CScanCommand::Run() {
    // The agent's info lines stay in kvo-agent.log: on the terminal they would
    // break up the progress line, and the summary says what matters. A running
    // agent's own log output is not the command's to change.
    if (!m_io.inAgent) KvoCore::LogSetStderrLevel(KvoCore::LogLevel::Warning);
    int status = CheckSettings();
    if (status != ExitOk) return status;
    // The agent runs a baseline instead of any other scan when it needs one.
    CScanWatch watch(m_dom, m_kind.scanType, m_kind.scanType != s_Baseline.scanType);
    status = StartWatch(watch);
    if (status != ExitOk) return status;
    m_baselineReason = watch.ResumedKind() == s_Baseline.scanType ? "an earlier baseline was left unfinished"
                       : watch.HadRules()                          ? "the rules changed"
                                                                   : "there was no baseline yet";
    m_tail.StartAfter(watch.HighestEventIdBefore());

    std::unique_ptr<KvoCore::CLuaThread> agent;
    if (m_io.inAgent)
        AskRunningAgent(watch);
    else if (!(agent = StartAgent(watch)))
        return ExitInternal;
    CScanWatch::Status scan;
    Outcome outcome = Wait(watch, agent.get(), scan);
    CScanWatch::Summary summary;
    std::vector<CScanWatch::Rule> rules;
    if (outcome == Outcome::Completed) outcome = ReadResult(watch, scan, summary, rules);
    // Closed before the agent's own connections, so that the last of those to
    // close folds the write-ahead log back into si.db.
    watch.Close();
    if (agent) {
        m_dom.RequestStop();
        agent->join();
    }
    return Report(outcome, scan, summary, rules, agent.get());
}

std::unique_ptr<KvoCore::CLuaThread> CScanCommand::StartAgent(const CScanWatch& watch) {
    const std::string script = m_scriptDir + "/scan.lua";
    if (access(script.c_str(), R_OK) != 0) {
        fprintf(m_io.err, "kvo-agent: cannot read the agent script %s\n", script.c_str());
        return nullptr;
    }
    std::unique_ptr<KvoCore::CLuaThread> agent(new KvoCore::CLuaThread(
        m_dom, script, {m_scriptDir, watch.ResumedScanId() != 0 ? "resume" : "request", m_kind.needKey}));
    if (!agent->start()) {
        fprintf(m_io.err, "kvo-agent: cannot start the agent thread of %s\n", script.c_str());
        return nullptr;
    }
    return agent;
}

// A scan of the kind that the agent is running already is the one to wait for.
void CScanCommand::AskRunningAgent(const CScanWatch& watch) {
    if (watch.ResumedScanId() != 0)
        fprintf(m_io.err, "kvo-agent: the running agent is in the middle of %s scan %lld; waiting for it\n",
                watch.ResumedKind() == m_kind.scanType ? m_kind.name : s_Baseline.name, watch.ResumedScanId());
    else
        m_dom.Set(m_kind.needKey, true);
    if (m_wakeAgent) m_wakeAgent();
}

CScanCommand::Outcome CScanCommand::ReadResult(CScanWatch& watch, CScanWatch::Status& status,
                                               CScanWatch::Summary& summary, std::vector<CScanWatch::Rule>& rules) const {
    try {
        summary = watch.ReadSummary();
        if (summary.scanKind != m_kind.scanType) rules = watch.ReadRulesCovered();
        else if (summary.scanKind != s_Baseline.scanType) summary.eventCounts = watch.CountEventsAfter();
    } catch (const wxSQLite3Exception& e) {
        status.reason = e.GetMessage();
        return Outcome::Unreadable;
    }
    return Outcome::Completed;
}

// Settings under which the agent would never start the scan: waiting for it would never end.
int CScanCommand::CheckSettings() const {
    bool featureOn = false;
    if (!m_dom.Get(PluginKeys::kFeatureOn, featureOn) || !featureOn) {
        fprintf(m_io.err, "kvo-agent: integrity monitoring is switched off (zel.im.featureOn), so no %s scan would start\n",
                m_kind.name);
        return ExitUsage;
    }
    if (m_dom.ConfigIsEmpty()) {
        fprintf(m_io.err, "kvo-agent: the configuration is empty, which switches integrity monitoring off\n");
        return ExitBadInput;
    }
    return ExitOk;
}

int CScanCommand::StartWatch(CScanWatch& watch) {
    if (!watch.Open(m_dom.GetWxString(PluginKeys::kDbPath))) {
        fprintf(m_io.err, "kvo-agent: the integrity database %s cannot be used (see kvo-agent.log)\n",
                DatabasePath().c_str());
        return ExitDatabase;
    }
    try {
        if (watch.Choose() && !m_io.inAgent)
            fprintf(m_io.err, "kvo-agent: resuming %s scan %lld, left unfinished by an earlier run\n",
                    watch.ResumedKind() == m_kind.scanType ? m_kind.name : s_Baseline.name, watch.ResumedScanId());
    } catch (const wxSQLite3Exception& e) {
        fprintf(m_io.err, "kvo-agent: the integrity database %s cannot be read: %s\n", DatabasePath().c_str(),
                Narrow(e.GetMessage()).c_str());
        return ExitDatabase;
    }
    return ExitOk;
}

CScanCommand::Outcome CScanCommand::Wait(CScanWatch& watch, const KvoCore::CLuaThread* agent,
                                         CScanWatch::Status& status) {
    CProgressLine progress(m_io.err);
    // Events are looked for less often than progress, each look being a
    // query, but often enough that a busy scan's events come a few hundred
    // at a time rather than thousands held at once.
    const int kPollsPerEventLook = 2;
    bool diskLow = false;
    for (int poll = 0;; ++poll) {
        // Looked at before the poll: a scan that completed just before the agent ended still counts.
        const bool agentEnded = agent != nullptr && !agent->isRunning();
        status = watch.Poll();
        switch (status.state) {
            case CScanWatch::State::Completed: return Outcome::Completed;
            case CScanWatch::State::Failed: return Outcome::Failed;
            case CScanWatch::State::Unreadable: return Outcome::Unreadable;
            case CScanWatch::State::Waiting:
            case CScanWatch::State::Running: break;
        }
        if (agentEnded) return Outcome::AgentEnded;
        if (m_dom.Get(PluginKeys::kDiskSpaceLow, diskLow) && diskLow) return Outcome::DiskFull;
        // A baseline the agent records instead changes nothing worth showing.
        if (status.scanKind == m_kind.scanType && poll % kPollsPerEventLook == 0) ShowEvents(&progress);
        wxString detail;
        const wxString head = ProgressText(status, detail);
        progress.Show(head, detail);
        // Nobody but a signal asks for the stop while we wait.
        if (m_dom.ShouldExit(kPollMs) || (m_abandoned && m_abandoned())) return Outcome::Interrupted;
    }
}

// The scan's events as they are recorded, in the form of the final report.
void CScanCommand::ShowEvents(CProgressLine* progress) {
    std::vector<CChangeEvent> fresh;
    std::string error;
    // What cannot be read now is read by the next look, or by the report.
    if (!m_tail.Poll(fresh, error) || fresh.empty()) return;
    if (progress != nullptr) progress->Clear();
    for (const CChangeEvent& event : fresh) ++m_shownCounts[event.change];
    const CChangeReport report(std::move(fresh), {});
    if (m_json)
        report.PrintJson(m_io.out);
    else
        report.PrintText(m_io.out);
    fflush(m_io.out);
}

wxString CScanCommand::ProgressText(const CScanWatch::Status& status, wxString& detail) const {
    if (status.state == CScanWatch::State::Waiting)
        return wxString::Format("%s: waiting for the agent to start the scan", m_kind.name);
    wxString text = wxString::Format("%s scan %lld: %lld entities recorded", m_kind.name, status.scanId,
                                     status.entitiesRecorded);
    if (status.entityType.empty()) return text;
    text += ", " + status.entityType + " " + StepText(status, detail);
    if (!detail.empty()) text += " ";
    return text;
}

int CScanCommand::Report(Outcome outcome, const CScanWatch::Status& status, const CScanWatch::Summary& summary,
                         const std::vector<CScanWatch::Rule>& rules, const KvoCore::CLuaThread* agent) {
    std::string scriptError;
    const bool scriptOk = agent == nullptr || agent->Succeeded(scriptError);
    switch (outcome) {
        case Outcome::Completed:
            if (!scriptOk) fprintf(m_io.err, "kvo-agent: the agent script failed afterwards: %s\n", scriptError.c_str());
            return ReportCompleted(summary, rules);
        case Outcome::Failed:
            fprintf(m_io.err, "kvo-agent: %s scan %lld cannot complete: %s\n", m_kind.name, status.scanId,
                    Narrow(status.reason).c_str());
            return ExitInternal;
        case Outcome::Unreadable:
            fprintf(m_io.err, "kvo-agent: the integrity database %s cannot be read: %s\n", DatabasePath().c_str(),
                    Narrow(status.reason).c_str());
            return ExitDatabase;
        case Outcome::AgentEnded:
            if (!scriptOk)
                fprintf(m_io.err, "kvo-agent: the agent script failed: %s\n", scriptError.c_str());
            else
                fprintf(m_io.err, "kvo-agent: the agent stopped before the %s scan completed (see kvo-agent.log)\n",
                        m_kind.name);
            return ExitInternal;
        case Outcome::DiskFull:
            ReportDiskFull(status);
            return ExitTryAgain;
        case Outcome::Interrupted:
            if (status.scanId != 0)
                fprintf(m_io.err, "kvo-agent: interrupted; %s scan %lld is left unfinished and kvo-agent %s resumes it\n",
                        m_kind.name, status.scanId, m_kind.name);
            else
                fprintf(m_io.err, "kvo-agent: interrupted before the %s scan started\n", m_kind.name);
            return ExitTryAgain;
    }
    return ExitInternal;
}

// The scan waits, resumable, until the space is back; waiting here would not end.
void CScanCommand::ReportDiskFull(const CScanWatch::Status& status) const {
    const std::string dir = Narrow(m_dom.GetWorkdirWx());
    struct statvfs fs;
    const double freeMb =
        ::statvfs(dir.c_str(), &fs) == 0 ? static_cast<double>(fs.f_bavail) * fs.f_frsize / 1048576.0 : 0.0;
    fprintf(m_io.err,
            "kvo-agent: %s: integrity scanning is suspended for want of disk space: the file system on %s (holding "
            "%s) has %.1f MB free, less than systemIntegrityFreeMbMin asks for (agent event 6012)\n",
            m_kind.name, MountPoint(dir).c_str(), dir.c_str(), freeMb);
    if (status.scanId != 0)
        fprintf(m_io.err, "kvo-agent: %s scan %lld is left unfinished; %s once there is space\n", m_kind.name,
                status.scanId, m_io.inAgent ? "the running agent resumes it by itself" : "run the command again");
}

int CScanCommand::ReportCompleted(const CScanWatch::Summary& summary, const std::vector<CScanWatch::Rule>& rules) {
    if (summary.scanKind != m_kind.scanType) return ReportBaselineFirst(summary, rules);
    // Those not shown yet.
    ShowEvents(nullptr);
    if (m_kind.scanType == s_Baseline.scanType) {
        PrintSummary(summary);
        return ExitOk;
    }
    return ReportChanges(summary);
}

// Changes are found against a baseline of the rules in force; without one there is nothing to compare with.
int CScanCommand::ReportBaselineFirst(const CScanWatch::Summary& summary, const std::vector<CScanWatch::Rule>& rules) const {
    FILE* out = m_json ? m_io.err : m_io.out;
    fprintf(out, "%s: a baseline had to be recorded first (%s); no changes are reported\n", m_kind.name,
            m_baselineReason);
    fprintf(out, "baseline scan %lld completed in %.1f s, covering the rules:\n", summary.scanId,
            summary.durationMs / 1000.0);
    for (const CScanWatch::Rule& rule : rules)
        fprintf(out, "  %lld %s%s\n", rule.id, Narrow(rule.name).c_str(),
                rule.identifier.empty() ? "" : (" (identifier " + Narrow(rule.identifier) + ")").c_str());
    fprintf(out, "run kvo-agent %s again to look for changes\n", m_kind.name);
    return ExitBaselineFirst;
}

// The events have been shown as they came. The count is of the rows the
// scan left (event mode 1), or of the JSON lines shown (mode 2), which are
// not kept in the table.
int CScanCommand::ReportChanges(const CScanWatch::Summary& summary) {
    const CChangeReport report({}, m_tail.EventMode() == 2 ? m_shownCounts : summary.eventCounts);
    fprintf(m_json ? m_io.err : m_io.out, "%s: incremental scan %lld completed in %.1f s: %s\n", m_kind.name,
            summary.scanId, summary.durationMs / 1000.0, report.CountsText().c_str());
    if (m_tail.PassedOver())
        fprintf(m_io.err, "kvo-agent: more events came at once than could be shown; kvo-agent events lists them all\n");
    return report.ExitBits();
}

void CScanCommand::PrintSummary(const CScanWatch::Summary& summary) const {
    fprintf(m_io.out, "%s scan %lld completed in %.1f s\n", m_kind.name, summary.scanId, summary.durationMs / 1000.0);
    fprintf(m_io.out, "current entities:\n");
    long long total = 0;
    for (const auto& type : summary.currentEntities) {
        fprintf(m_io.out, "  %-18s %lld\n", Narrow(type.first).c_str(), type.second);
        total += type.second;
    }
    fprintf(m_io.out, "  %-18s %lld\n", "total", total);
    // After the agent closed the file: a write-ahead log left beside it still belongs to it.
    const std::string path = DatabasePath();
    const long long bytes = FileSize(path) + FileSize(path + "-wal");
    fprintf(m_io.out, "database: %s (%.1f MB)\n", path.c_str(), bytes / 1048576.0);
}

std::string CScanCommand::DatabasePath() const { return Narrow(m_dom.GetWxString(PluginKeys::kDbPath)); }

}  // namespace KvoAgent
