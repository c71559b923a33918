// CEventQuery: the integrity events recorded after a given event id, read
// through the plug-in's query functions by the agent script events.lua, in a
// Lua state of its own on the calling thread. Reading them deletes nothing.
// Not thread-safe.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <lua.hpp>

#include "agent/ChangeEvent.h"
#include "core/Dom.h"

namespace KvoAgent {

class CEventQuery {
public:
    CEventQuery(const KvoCore::CDom& dom, std::string scriptDir);

    // Of the newest limit events, those after afterEventId. False with the
    // reason in error when the script fails.
    bool Run(long long afterEventId, long long limit, std::string& error);

    // Event mode 2 writes JSON lines instead of rows: events() is then empty.
    int EventMode() const { return m_eventMode; }
    const std::vector<CChangeEvent>& Events() const { return m_events; }
    std::vector<CChangeEvent> TakeEvents() { return std::move(m_events); }
    // How many of the newest events the last run read, its own included.
    long long WindowRows() const { return m_windowRows; }
    // One event from the table of an IntegrityEvents row at index.
    static CChangeEvent ReadEvent(lua_State* L, int index);

private:
    void ReadEvents(lua_State* L);

    KvoCore::CDom m_dom;
    const std::string m_scriptDir;
    int m_eventMode = 1;
    long long m_windowRows = 0;
    std::vector<CChangeEvent> m_events;
};

}  // namespace KvoAgent
