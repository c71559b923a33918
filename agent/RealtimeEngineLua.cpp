#include "agent/RealtimeEngineLua.h"

#include <chrono>
#include <string>
#include <vector>

#include "agent/AgentKeys.h"
#include "agent/RealtimeEngine.h"
#include "core/Dom.h"
#include "slb/Class.h"
#include "slb/Object.h"

namespace KvoAgent {

namespace {

const char* const kEngineClass = "SLB.RealtimeEngine";
const char* const kDomClass = "SLB.Dom";
const char* const kAgentConfiguration = "/SecurityConfiguration/AgentConfiguration";
const size_t kDefaultQueueSize = 65536;

// Lua errors unwind with longjmp: every check that may raise comes before
// any C++ object with a destructor.
KvoCore::CDom& DomArg(lua_State* L) {
    return *static_cast<KvoCore::CDom*>(SLB::CheckNonConstObject(L, 1, kDomClass));
}

CRealtimeEngine& Self(lua_State* L) { return *static_cast<CRealtimeEngine*>(SLB::CheckSelf(L, kEngineClass)); }

long ConfigNumber(const KvoCore::CDom& dom, const char* attribute, long fallback) {
    wxString text;
    long value = 0;
    return dom.ConfigGetAttribute(kAgentConfiguration, attribute, text) && text.ToLong(&value, 10) ? value : fallback;
}

int Settings(lua_State* L) {
    KvoCore::CDom& dom = DomArg(L);
    wxString allow;
    const bool allowOnChange = dom.ConfigGetAttribute(kAgentConfiguration, "systemIntegrityAllowOnChange", allow) &&
                               allow == "true";
    const long settle = ConfigNumber(dom, "systemIntegrityOnchangeBackoffMinMS", 5000);
    const long maxDelay = ConfigNumber(dom, "systemIntegrityOnchangeBackoffMaxMS", 30000);
    lua_createtable(L, 0, 3);
    lua_pushboolean(L, allowOnChange);
    lua_setfield(L, -2, "allowOnChange");
    lua_pushinteger(L, settle);
    lua_setfield(L, -2, "settleMs");
    lua_pushinteger(L, maxDelay);
    lua_setfield(L, -2, "maxDelayMs");
    return 1;
}

int Start(lua_State* L) {
    KvoCore::CDom& dom = DomArg(L);
    std::string setting;
    dom.Get(AgentKeys::kRealtime, setting);
    long long capacity = 0;
    if (!dom.Get(AgentKeys::kRealtimeQueueSize, capacity) || capacity < 1) capacity = kDefaultQueueSize;
    auto* engine = SLB::NewObject<CRealtimeEngine>(L, kEngineClass, dom, CRealtimeEngine::ModeOf(setting),
                                                   static_cast<size_t>(capacity));
    std::string error;
    if (!engine->Begin(error) || !engine->start()) {
        if (error.empty()) error = "cannot start the engine's thread";
        dom.Set(AgentKeys::kRealtimeEngine, "none");
        lua_pushnil(L);
        lua_pushlstring(L, error.data(), error.size());
        return 2;
    }
    return 1;
}

int Kind(lua_State* L) {
    const std::string kind = Self(L).Kind();
    lua_pushlstring(L, kind.data(), kind.size());
    return 1;
}

std::vector<std::string> Strings(lua_State* L, int index) {
    std::vector<std::string> values;
    if (!lua_istable(L, index)) return values;
    const size_t n = lua_rawlen(L, index);
    for (size_t i = 1; i <= n; ++i) {
        lua_rawgeti(L, index, static_cast<int>(i));
        if (lua_type(L, -1) == LUA_TSTRING) values.emplace_back(lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    return values;
}

int Watch(lua_State* L) {
    CRealtimeEngine& engine = Self(L);
    engine.Watch(Strings(L, 2), Strings(L, 3));
    return 0;
}

void SetText(lua_State* L, const char* field, const std::string& value) {
    lua_pushlstring(L, value.data(), value.size());
    lua_setfield(L, -2, field);
}

int Next(lua_State* L) {
    CRealtimeEngine& engine = Self(L);
    const lua_Integer ms = luaL_optinteger(L, 2, 0);
    CRealtimeNotification n;
    if (!engine.Next(n, ms > 0 ? static_cast<unsigned int>(ms) : 0)) {
        lua_pushnil(L);
        return 1;
    }
    lua_createtable(L, 0, 7);
    SetText(L, "operationType", n.operationType);
    SetText(L, "realpath", n.realpath);
    lua_pushnumber(L, static_cast<lua_Number>(n.time));
    lua_setfield(L, -2, "time");
    SetText(L, "procUser", n.procUser);
    SetText(L, "processName", n.processName);
    SetText(L, "pid", n.pid);
    if (!n.oldname.empty()) SetText(L, "oldname", n.oldname);
    return 1;
}

int Stop(lua_State* L) {
    Self(L).Stop();
    return 0;
}

// Milliseconds of a monotonic clock, for the loop's own timing.
int Clock(lua_State* L) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    lua_pushnumber(L, static_cast<lua_Number>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
    return 1;
}

}  // namespace

void OpenRealtimeEngineLua(lua_State* L) {
    SLB::Class(L, kEngineClass)
        .Static("Settings", Settings)
        .Static("Start", Start)
        .Method("Kind", Kind)
        .Method("Watch", Watch)
        .Method("Next", Next)
        .Method("Stop", Stop)
        .Static("Clock", Clock);
}

}  // namespace KvoAgent
