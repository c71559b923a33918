// CEventQuery: the integrity events recorded after a given event id, read
// through the plug-in's query functions by the agent script events.lua, in a
// Lua state of its own on the calling thread. Not thread-safe.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <lua.hpp>

#include "agent/ChangeEvent.h"
#include "core/Dom.h"

namespace KvoAgent {

class CEventQuery {
public:
    CEventQuery(const KvoCore::CDom& dom, std::string scriptDir);

    // The newest limit events after afterEventId; countAll: and, when there
    // were more, the count of all of them per change. False with the reason in
    // error when the script fails.
    bool Run(long long afterEventId, std::string& error, long long limit = 20000, bool countAll = true);

    // Event mode 2 writes JSON lines instead of rows: events() is then empty.
    int EventMode() const { return m_eventMode; }
    const std::vector<CChangeEvent>& Events() const { return m_events; }
    // Events per change code over all of them, when there were more than Events() holds.
    const std::map<int, long long>& ChangeCounts() const { return m_changeCounts; }
    // One event from the table of an IntegrityEvents row at index.
    static CChangeEvent ReadEvent(lua_State* L, int index);

private:
    void ReadEvents(lua_State* L);
    void ReadChangeCounts(lua_State* L);

    KvoCore::CDom m_dom;
    const std::string m_scriptDir;
    int m_eventMode = 1;
    std::vector<CChangeEvent> m_events;
    std::map<int, long long> m_changeCounts;
};

}  // namespace KvoAgent
