// CQueryCommand: the commands that read results for a person, `events`,
// `entities`, `status` and `dump`. The agent script queries.lua asks the
// plug-in's query functions, as an agent that delivers results does; this
// class parses the command's options, runs the script in a Lua state of its
// own on the calling thread and prints what it left. Listings read si.db
// read-only; only an explicit --confirm reaches a query that deletes, so no
// work-directory lock is taken. Run on its own, or inside
// a running agent for a client of its control socket, whose scan state it
// then sees. Used once, on one thread.
#pragma once

#include <string>
#include <vector>

#include <lua.hpp>

#include "agent/CommandStreams.h"
#include "core/Dom.h"
#include "core/SqliteDatabase.h"

namespace KvoAgent {

class CQueryCommand {
public:
    enum class Parsed { Run, Help, UsageError };

    static bool Handles(const std::string& command);
    explicit CQueryCommand(std::string command);
    CQueryCommand(const CQueryCommand&) = delete;
    CQueryCommand& operator=(const CQueryCommand&) = delete;

    // The command's own options; error says what is wrong with them.
    Parsed Parse(const std::vector<std::string>& arguments, std::string& error);
    void PrintHelp() const;
    // The command's exit status.
    int Run(KvoCore::CDom& dom, const std::string& scriptDir, const CCommandStreams& io = CCommandStreams());

private:
    bool TakesPaging() const { return m_command == "events" || m_command == "entities"; }
    static bool ParseCount(const std::string& text, long long minimum, long long& value);
    static int ConfiguredEventMode(const KvoCore::CDom& dom);
    // Opens si.db read-only; an exit status other than ExitOk when it cannot.
    int OpenDatabase(KvoCore::CDom& dom, KvoCore::CSqliteDatabase& db) const;
    int Report(lua_State* L) const;
    int ReportRefusal(lua_State* L) const;
    int PrintEvents(lua_State* L) const;
    void PrintEntities(lua_State* L) const;
    int PrintRecords(KvoCore::CSqliteDatabase& db) const;

    const std::string m_command;
    static int PrintTo(lua_State* L);

    CCommandStreams m_io;
    long long m_after = 0;
    long long m_limit = 100;
    long long m_confirm = 0;
    bool m_json = false;
    bool m_xml = false;    // entities: every current one as an external entity record
    bool m_paged = false;  // an option of listing pages was given
};

}  // namespace KvoAgent
