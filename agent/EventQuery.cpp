#include "agent/EventQuery.h"

#include <memory>

#include "agent/LuaField.h"
#include "core/AgentLua.h"

namespace KvoAgent {

CEventQuery::CEventQuery(const KvoCore::CDom& dom, std::string scriptDir) : m_dom(dom), m_scriptDir(std::move(scriptDir)) {}

bool CEventQuery::Run(long long afterEventId, long long limit, std::string& error) {
    m_events.clear();
    m_windowRows = 0;
    std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
    if (!L) {
        error = "no memory for a Lua state";
        return false;
    }
    luaL_openlibs(L.get());
    KvoCore::OpenAgentLua(L.get(), m_dom);
    const std::string script = m_scriptDir + "/events.lua";
    const std::string after = std::to_string(afterEventId), most = std::to_string(limit);
    const char* argv[] = {after.c_str(), most.c_str()};
    if (!KvoCore::RunLuaFile(L.get(), script.c_str(), 2, argv, error)) return false;
    lua_getglobal(L.get(), "eventMode");
    m_eventMode = lua_isnumber(L.get(), -1) ? static_cast<int>(lua_tonumber(L.get(), -1)) : 1;
    lua_getglobal(L.get(), "windowRows");
    m_windowRows = lua_isnumber(L.get(), -1) ? static_cast<long long>(lua_tonumber(L.get(), -1)) : 0;
    lua_pop(L.get(), 2);
    ReadEvents(L.get());
    return true;
}

void CEventQuery::ReadEvents(lua_State* L) {
    lua_getglobal(L, "events");
    if (lua_istable(L, -1)) {
        const int count = static_cast<int>(lua_rawlen(L, -1));
        m_events.reserve(static_cast<size_t>(count));
        for (int i = 1; i <= count; ++i) {
            lua_rawgeti(L, -1, i);
            if (lua_istable(L, -1)) m_events.push_back(ReadEvent(L, lua_gettop(L)));
            lua_pop(L, 1);
            // Each row is let go once read, so that a long window is not held twice.
            lua_pushnil(L);
            lua_rawseti(L, -2, i);
            if (i % 256 == 0) lua_gc(L, LUA_GCSTEP, 0);
        }
    }
    lua_pop(L, 1);
}

// The fields are the columns of an IntegrityEvents row.
CChangeEvent CEventQuery::ReadEvent(lua_State* L, int index) {
    CChangeEvent event;
    event.id = LuaNumberField(L, index, "integrityEventId");
    event.change = static_cast<int>(LuaNumberField(L, index, "change"));
    event.timeMs = LuaNumberField(L, index, "recorded");
    event.ruleId = LuaNumberField(L, index, "integrityRuleId");
    event.severity = LuaNumberField(L, index, "severity");
    event.entityType = LuaTextField(L, index, "entityType");
    event.key = LuaTextField(L, index, "key");
    event.ruleName = LuaTextField(L, index, "ruleName");
    event.user = LuaTextField(L, index, "user");
    event.process = LuaTextField(L, index, "process");
    if (event.change == CChangeEvent::Update)
        event.attributes = CChangeEvent::DecodeDescription(LuaTextField(L, index, "description"));
    // A retirement names no key, only the run of entity ids it retired.
    if (event.change == CChangeEvent::Retire && event.key.empty())
        event.key = wxString::Format("entity versions %lld to %lld", LuaNumberField(L, index, "wasEntity"),
                                     LuaNumberField(L, index, "isEntity"));
    return event;
}

}  // namespace KvoAgent
