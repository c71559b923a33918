// CEventQuery: the integrity events recorded after a given event id, read
// through the plug-in's query functions by the agent script events.lua, in a
// Lua state of its own on the calling thread. Reading them deletes nothing.
// Not thread-safe.
#pragma once

#include <string>
#include <vector>

#include <lua.hpp>

#include "agent/ChangeEvent.h"
#include "core/Dom.h"

namespace KvoAgent {

class CEventQuery {
public:
    CEventQuery(const KvoCore::CDom& dom, std::string scriptDir);

    // The newest limit events after afterEventId, which was recorded at
    // fromTimeMs or later (0: not known). False with the reason in error when
    // the script fails.
    bool Run(long long afterEventId, long long fromTimeMs, long long limit, std::string& error);

    // Event mode 2 writes JSON lines instead of rows: events() is then empty.
    int EventMode() const { return m_eventMode; }
    const std::vector<CChangeEvent>& Events() const { return m_events; }
    // One event from the table of an IntegrityEvents row at index.
    static CChangeEvent ReadEvent(lua_State* L, int index);

private:
    void ReadEvents(lua_State* L);

    KvoCore::CDom m_dom;
    const std::string m_scriptDir;
    int m_eventMode = 1;
    std::vector<CChangeEvent> m_events;
};

}  // namespace KvoAgent
