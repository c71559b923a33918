#include "agent/QueryCommand.h"

#include <climits>
#include <cstdio>
#include <memory>

#include <wx/filename.h>

#include "agent/AgentHost.h"
#include "agent/ChangeReport.h"
#include "agent/ConfiguredRules.h"
#include "agent/EntityListing.h"
#include "agent/EntityRecordXml.h"
#include "agent/EventQuery.h"
#include "agent/ResultRows.h"
#include "agent/Utf8.h"
#include "core/AgentLua.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/StateKeys.h"
#include "agent/PluginKeys.h"

namespace KvoAgent {

namespace {

struct Help {
    const char* command;
    const char* text;
};

const Help kHelp[] = {
    {"events",
     "usage: kvo-agent [GLOBAL OPTIONS] events [--after ID] [--limit N] [--confirm ID] [--json]\n"
     "\n"
     "Prints the recorded integrity events after event ID, oldest first, at most N of them: id,\n"
     "time, change, rule, entity type and key, and for an update each changed attribute with its\n"
     "old and new value. Listing deletes nothing; page on with --after the last id shown.\n"
     "\n"
     "  --after ID     only events after event ID (default 0: from the first)\n"
     "  --limit N      at most N events (default 100)\n"
     "  --confirm ID   confirm that the events up to ID were delivered: the agent then deletes\n"
     "                 the events whose id is ID minus the number it keeps or lower (state key\n"
     "                 zel.im.eventsToRetain, 64 unless set with --set); refused during a scan\n"
     "  --json         one JSON object per event\n"
     "  --help         this text\n"
     "\n"
     "In event mode 2 the events are sent as JSON lines to <workdir>/events.jsonl instead of being\n"
     "kept in the database. Exit status: 0, 64 bad option, 69 the database cannot be used, 75\n"
     "--confirm refused while an integrity scan is in progress in the running agent.\n"},
    {"entities",
     "usage: kvo-agent [GLOBAL OPTIONS] entities [--after ID] [--limit N] [--confirm ID] [--json]\n"
     "       kvo-agent [GLOBAL OPTIONS] entities --xml\n"
     "\n"
     "Prints the recorded entities (the baseline) after entity ID in id order, at most N of them:\n"
     "id, entity type, rule and key, each attribute below. Until their delivery is confirmed, the\n"
     "older versions of changed entities and the entities found deleted are listed too. Listing\n"
     "deletes nothing; page on with --after the last id shown.\n"
     "\n"
     "  --after ID     only entities after entity ID (default 0: from the first)\n"
     "  --limit N      at most N entities (default 100)\n"
     "  --confirm ID   confirm that the entities up to ID were delivered: the agent then deletes\n"
     "                 the older versions and the deleted entities whose id is ID or lower;\n"
     "                 current entities stay; refused during a scan\n"
     "  --json         one JSON object per entity\n"
     "  --xml          every current entity as an external entity record, one XML Entity element\n"
     "                 per line with its attributes, as kvo-agent feed takes them (no paging)\n"
     "  --help         this text\n"
     "\n"
     "Exit status: 0, 64 bad option, 69 the database cannot be used, 75 --confirm refused while\n"
     "an integrity scan is in progress in the running agent.\n"},
    {"status",
     "usage: kvo-agent [GLOBAL OPTIONS] status\n"
     "\n"
     "Prints the integrity scan status: idle or the scan in progress and how far it got, the\n"
     "scans waiting to run, the highest entity id and the event mode; then the plug-in's\n"
     "statistics (entities per rule, deleted rules, counters, monitored attributes per entity\n"
     "type) as counted by the agent process that answers: the running agent (kvo-agent run) when\n"
     "one runs on the work directory, else this process, which has counted nothing.\n"
     "\n"
     "Exit status: 0, 64 bad option, 69 the database cannot be used.\n"},
    {"dump",
     "usage: kvo-agent [GLOBAL OPTIONS] dump\n"
     "\n"
     "Writes the current entities, one line each with their attributes, to\n"
     "<workdir>/im/im_baseline.txt (replacing an older one) and prints its path and the number\n"
     "of entities written.\n"
     "\n"
     "Exit status: 0, 64 bad option, 69 the database cannot be used, 75 refused while an\n"
     "integrity scan is in progress in the running agent.\n"},
};

const char kScanInProgress[] = "Integrity scan in progress";
const int kDatabaseError = 500;

}  // namespace

bool CQueryCommand::Handles(const std::string& command) {
    for (const Help& help : kHelp)
        if (command == help.command) return true;
    return false;
}

CQueryCommand::CQueryCommand(std::string command) : m_command(std::move(command)) {}

void CQueryCommand::PrintHelp() const {
    for (const Help& help : kHelp)
        if (m_command == help.command) fputs(help.text, stdout);
}

// Whole decimal numbers only: "12abc" or "1e3" would be read as something the user did not write.
bool CQueryCommand::ParseCount(const std::string& text, long long minimum, long long& value) {
    // Lua numbers hold integers exactly up to 2^53.
    const long long kMost = 1LL << 53;
    if (text.empty() || text.size() > 16 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoll(text);
    return value >= minimum && value <= kMost;
}

CQueryCommand::Parsed CQueryCommand::Parse(const std::vector<std::string>& arguments, std::string& error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help") return Parsed::Help;
        if (m_command == "entities" && option == "--xml") {
            m_xml = true;
        } else if (TakesPaging() && option == "--json") {
            m_json = true;
            m_paged = true;
        } else if (TakesPaging() && (option == "--after" || option == "--limit" || option == "--confirm")) {
            if (i + 1 == arguments.size()) {
                error = m_command + " " + option + " needs a number";
                return Parsed::UsageError;
            }
            m_paged = true;
            const std::string& text = arguments[++i];
            const bool isId = option != "--limit";
            long long& value = option == "--after" ? m_after : option == "--confirm" ? m_confirm : m_limit;
            if (!ParseCount(text, isId ? 0 : 1, value) || (!isId && m_limit > INT_MAX)) {
                error = m_command + " " + option + " " + text + ": " +
                        (isId ? "an id, 0 or more" : "a number from 1 to 2147483647") + " expected";
                return Parsed::UsageError;
            }
        } else {
            error = m_command + ": unknown option or argument " + option;
            return Parsed::UsageError;
        }
    }
    if (m_xml && m_paged) {
        error = "entities --xml lists every current entity and takes no other option";
        return Parsed::UsageError;
    }
    return Parsed::Run;
}

// The plug-in learns its event mode when its control loop starts, which
// never happens in this process; read as the plug-in reads it: 2, or else 1.
int CQueryCommand::ConfiguredEventMode(const KvoCore::CDom& dom) {
    wxString text;
    long mode = 0;
    if (!dom.ConfigGetAttribute("/SecurityConfiguration/AgentConfiguration", "systemIntegrityEventMode", text)) return 1;
    return text.ToLong(&mode) && mode == 2 ? 2 : 1;
}

// A query would create an empty si.db where there is none, and report nothing from it.
int CQueryCommand::OpenDatabase(KvoCore::CDom& dom, KvoCore::CSqliteDatabase& db) const {
    const wxString path = dom.GetWxString(PluginKeys::kDbPath);
    if (!wxFileName::FileExists(path)) {
        fprintf(m_io.err, "kvo-agent: there is no integrity database %s yet (kvo-agent baseline records one)\n",
                Narrow(path).c_str());
        return ExitDatabase;
    }
    if (!db.OpenIntegrityDb(path, KvoCore::DbAccess::ReadOnly)) {
        fprintf(m_io.err, "kvo-agent: the integrity database %s cannot be used (see kvo-agent.log)\n",
                Narrow(path).c_str());
        return ExitDatabase;
    }
    return ExitOk;
}

// The script's print, to the command's own output.
int CQueryCommand::PrintTo(lua_State* L) {
    FILE* out = static_cast<FILE*>(lua_touserdata(L, lua_upvalueindex(1)));
    const int n = lua_gettop(L);
    lua_getglobal(L, "tostring");
    for (int i = 1; i <= n; ++i) {
        lua_pushvalue(L, -1);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        const char* text = lua_tostring(L, -1);
        if (text == nullptr) return luaL_error(L, "'tostring' must return a string to 'print'");
        if (i > 1) fputc('\t', out);
        fputs(text, out);
        lua_pop(L, 1);
    }
    fputc('\n', out);
    return 0;
}

int CQueryCommand::Run(KvoCore::CDom& dom, const std::string& scriptDir, const CCommandStreams& io) {
    m_io = io;
    // The output is the listing; the log keeps the agent's info lines. A
    // running agent's own log output is not the command's to change.
    if (!m_io.inAgent) KvoCore::LogSetStderrLevel(KvoCore::LogLevel::Warning);
    // Open while the script runs: the listings read through it.
    KvoCore::CSqliteDatabase db(dom, KvoCore::Keys::kTraceAgent);
    const int status = OpenDatabase(dom, db);
    if (status != ExitOk) return status;
    if (m_xml) return PrintRecords(db);
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    if (!L) return ExitInternal;
    luaL_openlibs(L.get());
    KvoCore::OpenAgentLua(L.get(), dom);
    lua_pushlightuserdata(L.get(), m_io.out);
    lua_pushcclosure(L.get(), PrintTo, 1);
    lua_setglobal(L.get(), "print");
    CConfiguredRules(dom).PushLua(L.get());
    lua_setglobal(L.get(), "ruleNames");
    lua_pushinteger(L.get(), ConfiguredEventMode(dom));
    lua_setglobal(L.get(), "configuredEventMode");
    lua_pushboolean(L.get(), m_io.inAgent);
    lua_setglobal(L.get(), "inRunningAgent");
    CResultRows::Register(L.get(), db);
    const std::string script = scriptDir + "/queries.lua";
    const std::string after = std::to_string(m_after), limit = std::to_string(m_limit),
                      confirm = std::to_string(m_confirm);
    const char* argv[] = {m_command.c_str(), after.c_str(), limit.c_str(), confirm.c_str()};
    std::string error;
    if (!KvoCore::RunLuaFile(L.get(), script.c_str(), 4, argv, error)) {
        fprintf(m_io.err, "kvo-agent: the agent script %s failed: %s\n", script.c_str(), error.c_str());
        return ExitInternal;
    }
    return Report(L.get());
}

int CQueryCommand::PrintRecords(KvoCore::CSqliteDatabase& db) const {
    try {
        CEntityRecordXml(db).Print(m_io.out);
    } catch (const wxSQLite3Exception& e) {
        fprintf(m_io.err, "kvo-agent: entities --xml: %s\n", Narrow(e.GetMessage()).c_str());
        return ExitDatabase;
    }
    return ExitOk;
}

// status and dump have printed their own lines.
int CQueryCommand::Report(lua_State* L) const {
    lua_getglobal(L, "refusal");
    const bool refused = lua_istable(L, -1);
    lua_pop(L, 1);
    if (refused) return ReportRefusal(L);
    if (m_command == "events") return PrintEvents(L);
    if (m_command == "entities") PrintEntities(L);
    return ExitOk;
}

void CQueryCommand::PrintEntities(lua_State* L) const {
    lua_getglobal(L, "rows");
    const CEntityListing listing(L, lua_gettop(L));
    lua_pop(L, 1);
    if (m_json)
        listing.PrintJson(m_io.out);
    else
        listing.PrintText(m_io.out, m_after);
}

int CQueryCommand::ReportRefusal(lua_State* L) const {
    lua_getglobal(L, "refusal");
    lua_getfield(L, -1, "status");
    const int status = static_cast<int>(lua_tointeger(L, -1));
    lua_getfield(L, -2, "message");
    const std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
    lua_pop(L, 3);
    fprintf(m_io.err, "kvo-agent: %s: %s\n", m_command.c_str(), message.c_str());
    if (message == kScanInProgress) return ExitTryAgain;
    return status == kDatabaseError ? ExitDatabase : ExitInternal;
}

int CQueryCommand::PrintEvents(lua_State* L) const {
    lua_getglobal(L, "eventMode");
    const bool jsonLines = lua_tointeger(L, -1) == 2;
    lua_pop(L, 1);
    if (jsonLines) {
        fprintf(m_io.err, "kvo-agent: in event mode 2 the integrity events are sent as JSON lines to "
                        "events.jsonl and not kept in the database\n");
        return ExitOk;
    }
    std::vector<CChangeEvent> events;
    lua_getglobal(L, "rows");
    const int count = lua_istable(L, -1) ? static_cast<int>(lua_rawlen(L, -1)) : 0;
    for (int i = 1; i <= count; ++i) {
        lua_rawgeti(L, -1, i);
        if (lua_istable(L, -1)) events.push_back(CEventQuery::ReadEvent(L, lua_gettop(L)));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    const CChangeReport report(std::move(events), {});
    if (m_json) {
        report.PrintJson(m_io.out);
    } else {
        report.PrintText(m_io.out);
        if (count == 0) fprintf(m_io.out, "no integrity events after event %lld\n", m_after);
    }
    return ExitOk;
}

}  // namespace KvoAgent
