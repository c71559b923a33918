// CResultRows: the recorded events and entities after a given id, oldest
// first, read straight from si.db (read-only) for `kvo-agent events` and
// `entities`. The plug-in's query functions take the id a caller names as
// delivered and delete behind it; a person paging through the results has
// confirmed nothing, so the listing reads the tables, which are an external
// interface, and deletes nothing. Lua functions for queries.lua; each leaves
// an array of rows shaped as the plug-in's query results. One thread.
#pragma once

#include <lua.hpp>

#include "core/SqliteDatabase.h"

namespace KvoAgent {

class CResultRows {
public:
    // Registers readEvents(after, limit) and readEntities(after, limit) as
    // globals of L; db must stay open while L runs.
    static void Register(lua_State* L, KvoCore::CSqliteDatabase& db);

private:
    static int ReadEvents(lua_State* L);
    static int ReadEntities(lua_State* L);
    static void PushAttributes(lua_State* L, KvoCore::CSqliteDatabase& db, long long entityId);
};

}  // namespace KvoAgent
