#include "agent/AgentHost.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <lua.hpp>
#include <wx/filename.h>

#include "agent/AgentKeys.h"
#include "agent/CommandHelp.h"
#include "agent/ConfigReloader.h"
#include "agent/ControlClient.h"
#include "agent/ControlServer.h"
#include "agent/EventFeed.h"
#include "agent/FeedClient.h"
#include "agent/IntegrityKey.h"
#include "agent/RealtimeEngineLua.h"
#include "agent/ScanCommand.h"
#include "agent/ScanRootCommand.h"
#include "agent/ServiceWatch.h"
#include "agent/SignalWatcher.h"
#include "agent/StartCheck.h"
#include "agent/WorkdirLock.h"
#include "agent/Utf8.h"
#include "core/AgentLua.h"
#include "core/InstallLayout.h"
#include "core/IntegrityKeyFile.h"
#include "core/Dom.h"
#include "core/Log.h"
#include "core/LuaThread.h"
#include "core/SqliteDatabase.h"
#include "core/Version.h"
#include "core/StateKeys.h"
#include "agent/PluginKeys.h"

namespace KvoAgent {

using KvoCore::CDom;

void CAgentHost::PrintHelp() {
    printf("usage: kvo-agent [--config FILE] [--workdir DIR] [--trace CATS] [--set KEY=VALUE]... COMMAND [ARGS]\n"
           "\n"
           "Global options (before COMMAND):\n"
           "  --config FILE      configuration file (default examples/default.xml of the source tree;\n"
           "                     installed: /etc/kvo/kvo-agent.xml)\n"
           "  --workdir DIR      work directory, created when missing (default ./kvo-work; installed:\n"
           "                     /var/lib/kvo); the agent runs inside it and keeps si.db,\n"
           "                     kvo-agent.log, agent-events.log there\n"
           "  --trace CATS       trace categories, comma separated, * for all (also KVO_TRACE)\n"
           "  --set KEY=VALUE    set an agent state key: true/false give a flag, an optional sign and\n"
           "                     digits a 64-bit integer, anything else a string; may be repeated\n"
           "  --help             this text\n"
           "  --version          the agent's version\n"
           "\n"
           "Commands:\n"
           "  exec SCRIPT.lua [ARGS]  run a Lua script in the agent; the global `dom` is the agent\n"
           "                          object and ARGS arrive as `...`\n"
           "  rules [--plan [--keep FILE] | --why KEY... [--type TYPE]]\n"
           "                          print the configured rules back as the agent reads them, with\n"
           "                          what it does not accept; exit 1 when a rule is not accepted whole\n"
           "                          (--plan: what storing them would do; --why: which rule records\n"
           "                          a key; kvo-rules --help says more)\n"
           "  glob [--base] [--windows] [--] PATTERN...\n"
           "                          print the regular expression of each glob (--base: as a base\n"
           "                          directory; --windows: as on a Windows host)\n"
           "  run                     the agent: integrity monitoring runs until SIGINT or SIGTERM and\n"
           "                          shows the integrity events as they are recorded; SIGHUP reloads\n"
           "                          the configuration; one agent per work directory (exit 75 while\n"
           "                          another runs); while it runs, the commands below are carried out\n"
           "                          inside it through <workdir>/kvo-agent.sock; its scripts come from\n"
           "                          <build>/../agent/lua (installed: /usr/lib/kvo/lua)\n"
           "  baseline                records a baseline: runs the agent until the baseline scan it\n"
           "                          asks for (or one an earlier run left unfinished) has completed,\n"
           "                          then prints the entities recorded per type, the duration and the\n"
           "                          database size; progress on stderr when it is a terminal (not\n"
           "                          through a running agent); exit 70 when the scan cannot complete,\n"
           "                          75 when interrupted (run it again to resume) or while another\n"
           "                          agent holds the work directory\n"
           "  check [--json]          looks for changes: runs the agent until the incremental scan it\n"
           "                          asks for has completed, showing that scan's events as they are\n"
           "                          recorded (id, time, change, rule, type, key; an update's attributes\n"
           "                          with old and new value), then a count of them;\n"
           "                          --json: one JSON object per event. When the agent has to record\n"
           "                          a baseline first (none yet, or the rules changed) it records it,\n"
           "                          names the rules it covered and exits 16\n"
           "  events [--after ID] [--limit N] [--confirm ID] [--json]\n"
           "                          the recorded integrity events: at most N after event ID\n"
           "  entities [--after ID] [--limit N] [--confirm ID] [--json] | entities --xml\n"
           "                          the recorded entities (the baseline) after entity ID\n"
           "  feed [FILE]             hands external entity records (one XML Entity element per line,\n"
           "                          as entities --xml prints them) from FILE or stdin to the running\n"
           "                          agent, whose file scan waits for them when it hands its scans\n"
           "                          over (--set kvo.mode.vmsafeGuest=true); all or none: exit 65\n"
           "                          names every record refused\n"
           "  scan-root DIR           prints the records of the configured file sets for a file tree\n"
           "                          mounted at DIR (an image), keys as seen inside it, for feed\n"
           "  status                  the integrity scan status and the plug-in's statistics\n"
           "  dump                    writes the current entities to <workdir>/im/im_baseline.txt\n"
           "                          These four take no work-directory lock and only read, but for\n"
           "                          --confirm, which lets the agent delete what was delivered; each\n"
           "                          has --help. --confirm and dump during a running agent's scan\n"
           "                          are refused (exit 75)\n"
           "  decrypt [--key SPEC | --key-file FILE] SOURCE TARGET\n"
           "                          writes a plain copy of an encrypted integrity database (without\n"
           "                          a key option: the configured key) and prints its entity count;\n"
           "                          exit 69 when the key does not open SOURCE\n"
           "  rekey --key-file NEW    re-encrypts si.db with the key in NEW (the agent stopped)\n"
           "\n"
           "Exit status: 0 success (check: nothing changed), 1-15 check: bits of what changed (1 created,\n"
           "2 deleted, 4 updated, 8 renamed), 16 check: a baseline was recorded first, 64 usage error,\n"
           "65 bad input (configuration that does not parse, script that raises), 69 database cannot be\n"
           "used, 70 internal error, 75 try again.\n");
}

int CAgentHost::UsageError(const std::string& message) {
    fprintf(stderr, "kvo-agent: %s (kvo-agent --help shows the usage)\n", message.c_str());
    return ExitUsage;
}

int CAgentHost::Main(int argc, char** argv) {
    int next = 1;
    int status = m_options.ParseCommandLine(argc, argv, next, "kvo-agent", PrintHelp, UsageError);
    if (status >= 0) return status;
    if (next >= argc) return UsageError("no command given");
    m_command = argv[next++];
    for (; next < argc; ++next) m_arguments.emplace_back(argv[next]);
    if (m_command == "rules" || m_command == "glob") return RunRulesTool(argc, argv);
    status = CheckArguments();
    if (status >= 0) return status;

    CSignalWatcher::Block();
    m_startDir = wxFileName::GetCwd();
    status = StartAgent();
    if (status != ExitOk) return status;
    CDom dom = *CDom::This();
    {
        CSignalWatcher signals(dom);
        CConfigReloader reloader(dom);
        reloader.start();
        status = RunCommand();
        dom.RequestStop();
        KvoCore::CRunnable::StopThread(&reloader);
    }
    CDom::Destroy();
    return status;
}

// The command and its arguments. Returns -1 to go on, or the exit status to end with.
int CAgentHost::CheckArguments() {
    if (CQueryCommand::Handles(m_command)) {
        m_query.reset(new CQueryCommand(m_command));
        std::string error;
        switch (m_query->Parse(m_arguments, error)) {
            case CQueryCommand::Parsed::Help: m_query->PrintHelp(); return ExitOk;
            case CQueryCommand::Parsed::UsageError: return UsageError(error);
            case CQueryCommand::Parsed::Run: break;
        }
    } else if (m_command == "feed" || m_command == "scan-root") {
        if (m_arguments.size() == 1 && m_arguments[0] == "--help" && CCommandHelp::Print(m_command)) return ExitOk;
        if (m_command == "feed" ? m_arguments.size() > 1 : m_arguments.size() != 1)
            return UsageError(m_command == "feed" ? "feed takes at most one FILE" : "scan-root needs one DIR");
        return -1;
    } else if (CKeyCommand::Handles(m_command)) {
        if (m_arguments.size() == 1 && m_arguments[0] == "--help" && CCommandHelp::Print(m_command)) return ExitOk;
        m_keyCommand.reset(new CKeyCommand(m_command));
        std::string error;
        if (!m_keyCommand->Parse(m_arguments, wxFileName::GetCwd(), error)) return UsageError(error);
    } else if (m_command != "exec" && m_command != "run" && m_command != "baseline" && m_command != "check") {
        return UsageError("unknown command " + m_command);
    } else if (m_arguments.size() == 1 && m_arguments[0] == "--help" && CCommandHelp::Print(m_command)) {
        return ExitOk;
    }
    if (m_command == "exec" && m_arguments.empty()) return UsageError("exec needs a script");
    if (m_command == "run" && !m_arguments.empty()) return UsageError("run takes no arguments");
    bool json = false;
    std::string error;
    if ((m_command == "baseline" || m_command == "check") && !CScanCommand::Parse(m_command, m_arguments, json, error))
        return UsageError(error);
    return -1;
}

// The rule authors' tools live in their own executable beside the agent; it
// takes the same global options, so the whole command line is handed over.
int CAgentHost::RunRulesTool(int argc, char** argv) {
    std::string tool = KvoCore::CInstallLayout::RulesTool();
    std::vector<char*> args;
    args.push_back(const_cast<char*>(tool.c_str()));
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv(tool.c_str(), args.data());
    fprintf(stderr, "kvo-agent: cannot run %s: %s\n", tool.c_str(), strerror(errno));
    return ExitInternal;
}

int CAgentHost::StartAgent() {
    KvoCore::LogSetTraceCategories(m_options.trace);
    wxFileName config(m_options.config);
    config.MakeAbsolute();
    wxString error;
    if (!CDom::Create({m_options.workdir, config.GetFullPath()}, error)) {
        fprintf(stderr, "kvo-agent: %s\n", Narrow(error).c_str());
        return ExitBadInput;
    }
    CDom& dom = *CDom::This();
    if (chdir(dom.GetWorkdirWx().fn_str()) != 0) {
        fprintf(stderr, "kvo-agent: cannot enter the work directory %s: %s\n", Narrow(dom.GetWorkdirWx()).c_str(),
                strerror(errno));
        CDom::Destroy();
        return ExitInternal;
    }
    std::string keyError;
    if (!KvoCore::CIntegrityKeyFile::Load(dom, config.GetPath(), keyError)) {
        fprintf(stderr, "kvo-agent: %s\n", keyError.c_str());
        CDom::Destroy();
        return ExitBadInput;
    }
    dom.Set(PluginKeys::kDbPath, Narrow(dom.GetWorkdirWx() + "/si.db"));
    dom.Set(PluginKeys::kFeatureOn, true);
    dom.Set(PluginKeys::kRealtimeMode, false);
    // One scanner per CPU: the directory scanner then walks beside the file
    // scanner instead of before it. Their CPU limit is one budget.
    dom.Set(PluginKeys::kThreadsPerCpu, 1LL);
    dom.Set(KvoCore::Keys::kLuaCpath, KvoCore::CInstallLayout::LibraryDirectory() + "/?.so");
    // Every Lua state of the agent's threads, the plug-in's scanners' included,
    // finds the agent's own modules (mirt) and can drive the real-time engine.
    dom.Set(KvoCore::Keys::kLuaPath, KvoCore::CInstallLayout::ScriptDirectory() + "/?.lua");
    KvoCore::CRunnable::SetLuaSetup([](lua_State* L) {
        KvoCore::OpenAgentLua(L, *CDom::This());
        OpenRealtimeEngineLua(L);
    });
    m_options.ApplySettings(dom);
    return ExitOk;
}

int CAgentHost::RunCommand() {
    if (m_command == "exec") return Exec();
    if (m_command == "feed") return CFeedClient::Run(*CDom::This(), m_startDir, m_arguments);
    if (m_command == "scan-root") {
        wxFileName config(m_options.config);
        config.MakeAbsolute(m_startDir);
        return CScanRootCommand(*CDom::This(), m_startDir, m_arguments[0], config.GetFullPath()).Run();
    }
    if (m_command == "decrypt") return m_keyCommand->Run(*CDom::This());
    int status = ExitOk;
    // A rekey needs the agent stopped: it waits for no running agent's help.
    if (m_command != "run" && !m_keyCommand && AskRunningAgent(status)) return status;
    if (m_query) return m_query->Run(*CDom::This(), KvoCore::CInstallLayout::ScriptDirectory());
    CWorkdirLock lock(CDom::This()->GetWorkdirWx());
    status = TakeWorkdir(lock);
    if (status != ExitOk) return status;
    if (m_keyCommand) return m_keyCommand->Run(*CDom::This());
    bool json = false;
    std::string error;
    if (const CScanCommand::ScanKind* kind = CScanCommand::Parse(m_command, m_arguments, json, error))
        return CScanCommand(*CDom::This(), *kind, KvoCore::CInstallLayout::ScriptDirectory(), json).Run();
    return RunAgentScript();
}

// While `kvo-agent run` holds the work directory, the command is carried out
// inside it. False when no agent runs there: the command runs on its own.
bool CAgentHost::AskRunningAgent(int& status) {
    CControlClient client;
    std::string error;
    switch (client.Connect(error)) {
        case CControlClient::Connection::NoAgent:
            return false;
        case CControlClient::Connection::Failed:
            fprintf(stderr, "kvo-agent: %s\n", error.c_str());
            status = ExitInternal;
            return true;
        case CControlClient::Connection::Open:
            break;
    }
    status = client.Carry(*CDom::This(), m_command, m_arguments);
    return true;
}

int CAgentHost::Exec() {
    // The script path was given relative to where the user stands, not to the work directory.
    wxFileName script(wxString::FromUTF8(m_arguments[0].c_str()));
    script.MakeAbsolute(m_startDir);
    std::string path = Narrow(script.GetFullPath());
    if (access(path.c_str(), R_OK) != 0) {
        fprintf(stderr, "kvo-agent: cannot read script %s: %s\n", path.c_str(), strerror(errno));
        return ExitBadInput;
    }
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    if (!L) return ExitInternal;
    luaL_openlibs(L.get());
    OpenRealtimeEngineLua(L.get());
    KvoCore::OpenAgentLua(L.get(), *CDom::This());
    std::vector<const char*> argv;
    for (size_t i = 1; i < m_arguments.size(); ++i) argv.push_back(m_arguments[i].c_str());
    std::string error;
    bool ok = KvoCore::RunLuaFile(L.get(), path.c_str(), static_cast<int>(argv.size()), argv.data(), error);
    if (!ok) fprintf(stderr, "kvo-agent: %s\n", error.c_str());
    return ok ? ExitOk : ExitBadInput;
}

// The commands that run the agent: one agent per work directory, on a usable database.
int CAgentHost::TakeWorkdir(CWorkdirLock& lock) {
    std::string error;
    switch (lock.Acquire(error)) {
        case CWorkdirLock::Acquired:
            break;
        case CWorkdirLock::HeldByAnother:
            fprintf(stderr,
                    "kvo-agent: another agent is running on the work directory %s (it holds %s); try again "
                    "once it has stopped\n",
                    Narrow(CDom::This()->GetWorkdirWx()).c_str(), lock.Path().c_str());
            return ExitTryAgain;
        case CWorkdirLock::Failed:
            fprintf(stderr, "kvo-agent: %s\n", error.c_str());
            return ExitInternal;
    }
    return CheckDatabase();
}

// The control thread would only stop at once on a database it cannot open;
// saying so here gives the user the reason and the exit status. The host only
// reads si.db: a missing file is created by the plug-in, asked through its
// module as any script would ask it.
int CAgentHost::CheckDatabase() {
    CDom& dom = *CDom::This();
    const wxString path = dom.GetWxString(PluginKeys::kDbPath);
    const int prepared = CIntegrityKey::PrepareDatabase(dom, path);
    if (prepared != ExitOk) return prepared;
    if (!wxFileName::Exists(path)) AskPluginForStatus(dom);
    KvoCore::CSqliteDatabase db(dom, KvoCore::Keys::kTraceAgent);
    // Quiet about a file without the schema: it is completed below.
    db.SetCreatesSchema(false);
    bool usable = db.OpenIntegrityDb(path, KvoCore::DbAccess::ReadOnly);
    // An agent killed while the plug-in created the schema leaves a file
    // without it; the plug-in completes it as it would create a new one.
    if (usable && !HasSchema(db)) {
        db.Close();
        AskPluginForStatus(dom);
        usable = db.OpenIntegrityDb(path, KvoCore::DbAccess::ReadOnly) && HasSchema(db);
    }
    if (!usable) {
        fprintf(stderr, "kvo-agent: the integrity database %s cannot be used (see kvo-agent.log)\n",
                Narrow(path).c_str());
        return ExitDatabase;
    }
    db.Close();
    if (access(path.fn_str(), W_OK) != 0) {
        fprintf(stderr, "kvo-agent: the integrity database %s cannot be written: %s\n", Narrow(path).c_str(),
                strerror(errno));
        return ExitDatabase;
    }
    return ExitOk;
}

bool CAgentHost::HasSchema(KvoCore::CSqliteDatabase& db) {
    try {
        if (db.HasCurrentSchema()) return true;
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogWarning(wxString::Format("Reading the schema version of %s: %s", db.GetPath(), e.GetMessage()));
        return false;
    }
    KvoCore::LogWarning(wxString::Format("Database '%s' has no complete integrity schema", db.GetPath()));
    return false;
}

void CAgentHost::AskPluginForStatus(CDom& dom) {
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    if (!L) return;
    luaL_openlibs(L.get());
    KvoCore::OpenAgentLua(L.get(), dom);
    if (luaL_dostring(L.get(), "require 'im'; SLB.im.ImThread.GetStatus(dom)") != LUA_OK)
        KvoCore::LogError(wxString::Format("Asking the integrity plug-in for its status: %s",
                                           wxString::FromUTF8(lua_tostring(L.get(), -1))));
}

// The agent's behaviour is its script (agent/lua/run.lua), run on an agent
// thread exactly as a real agent runs it; the host only waits for the stop.
int CAgentHost::RunAgentScript() {
    CDom& dom = *CDom::This();
    const std::string dir = KvoCore::CInstallLayout::ScriptDirectory();
    const std::string script = dir + "/run.lua";
    if (access(script.c_str(), R_OK) != 0) {
        fprintf(stderr, "kvo-agent: cannot read the agent script %s: %s\n", script.c_str(), strerror(errno));
        return ExitInternal;
    }
    // What changed while no agent ran is found by a check at the start (with
    // no baseline yet, the plug-in records one instead).
    CStartCheck startCheck(dom);
    startCheck.Begin(dom.GetWxString(PluginKeys::kDbPath));
    std::string error;
    KvoCore::CLuaThread agent(dom, script, {dir});
    CControlServer server(dom, dir, [&agent] { agent.Awaken(); });
    CEventFeed feed(dom, dir);
    if (!server.Listen(error) || !feed.Open(error)) {
        fprintf(stderr, "kvo-agent: %s\n", error.c_str());
        return ExitInternal;
    }
    if (!agent.start() || !server.start() || !feed.start()) {
        fprintf(stderr, "kvo-agent: cannot start the agent's threads\n");
        dom.RequestStop();
        agent.join();
        return ExitInternal;
    }
    KvoCore::LogInfo(wxString::Format("kvo-agent %s running in %s; SIGINT or SIGTERM stops it",
                                      KvoCore::kAgentVersion, dom.GetWorkdirWx()));
    // Until a signal asks for the stop, or the script ends by itself. A
    // reloaded configuration, real-time changes that have settled into si.db,
    // and the engine's requests for a scan wake the control thread, which
    // would otherwise take them up only after its pause between rounds.
    const unsigned int kScriptPollMs = 200;
    dom.ConditionRegister(KvoCore::Keys::kConfigUpdated);
    dom.ConditionRegister(PluginKeys::kOnChangeDataAvailable);
    dom.ConditionRegister(AgentKeys::kRealtimeScanAsked);
    long long reloads = 0, seen = 0, settled = 0, asked = 0, askedSeen = 0;
    dom.ConditionQuery(KvoCore::Keys::kConfigUpdated, seen);
    dom.ConditionQuery(PluginKeys::kOnChangeDataAvailable, settled);
    dom.ConditionQuery(AgentKeys::kRealtimeScanAsked, askedSeen);
    CServiceWatch service(dom, agent);
    while (agent.isRunning() && !dom.StopRequested()) {
        if (startCheck.Poll()) agent.Awaken();
        long long count = settled;
        if (dom.ConditionWait(PluginKeys::kOnChangeDataAvailable, settled, kScriptPollMs, count) && count != settled)
            agent.Awaken();
        settled = count;
        if (dom.ConditionQuery(KvoCore::Keys::kConfigUpdated, reloads) && reloads != seen) agent.Awaken();
        seen = reloads;
        if (dom.ConditionQuery(AgentKeys::kRealtimeScanAsked, asked) && asked != askedSeen) agent.Awaken();
        askedSeen = asked;
        service.Poll();
    }
    service.Stopping();
    dom.RequestStop();
    agent.join();
    KvoCore::CRunnable::StopThread(&server);
    KvoCore::CRunnable::StopThread(&feed);
    if (!agent.Succeeded(error)) {
        fprintf(stderr, "kvo-agent: the agent script failed: %s\n", error.c_str());
        return ExitInternal;
    }
    KvoCore::LogInfo("kvo-agent stopped");
    return ExitOk;
}

}  // namespace KvoAgent
