#include "core/AgentLua.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/LuaThread.h"
#include "slb/Class.h"
#include "slb/Namespace.h"
#include "slb/Object.h"
#include "core/StateKeys.h"

namespace KvoCore {
namespace {

const char* const kDomClass = "SLB.Dom";
const char* const kThreadClass = "SLB.AgentThread";

// Lua errors unwind with longjmp, so every check that may raise comes before
// any C++ object with a destructor is made.
CDom& Self(lua_State* L) { return *static_cast<CDom*>(SLB::CheckSelf(L, kDomClass)); }

int Get(lua_State* L) {
    CDom& dom = Self(L);
    const char* key = luaL_checkstring(L, 2);
    bool flag;
    long long number;
    void* pointer;
    std::string text;
    if (dom.Get(key, flag)) lua_pushboolean(L, flag);
    else if (dom.Get(key, number)) lua_pushnumber(L, static_cast<lua_Number>(number));
    else if (dom.Get(key, pointer)) lua_pushlightuserdata(L, pointer);
    else if (dom.Get(key, text)) lua_pushlstring(L, text.data(), text.size());
    else lua_pushnil(L);
    return 1;
}

int Set(lua_State* L) {
    CDom& dom = Self(L);
    const char* key = luaL_checkstring(L, 2);
    switch (lua_type(L, 3)) {
        case LUA_TNONE:
        case LUA_TNIL: dom.SetNil(key); break;
        case LUA_TBOOLEAN: dom.Set(key, lua_toboolean(L, 3) != 0); break;
        case LUA_TLIGHTUSERDATA: dom.SetPointer(key, lua_touserdata(L, 3)); break;
        case LUA_TNUMBER: {
            lua_Number n = lua_tonumber(L, 3);
            if (n != std::floor(n) || std::fabs(n) > 9.2e18) return luaL_argerror(L, 3, "integer expected");
            dom.Set(key, static_cast<long long>(n));
            break;
        }
        case LUA_TSTRING: {
            size_t length = 0;
            const char* s = lua_tolstring(L, 3, &length);
            dom.Set(key, std::string(s, length));
            break;
        }
        default:
            return luaL_argerror(L, 3, "nil, boolean, integer, string or light userdata expected");
    }
    return 0;
}

int ConditionRegister(lua_State* L) {
    CDom& dom = Self(L);
    dom.ConditionRegister(luaL_checkstring(L, 2));
    return 0;
}

int ConditionRaise(lua_State* L) {
    CDom& dom = Self(L);
    dom.ConditionRaise(luaL_checkstring(L, 2));
    return 0;
}

int ConditionQuery(lua_State* L) {
    CDom& dom = Self(L);
    long long count = 0;
    if (dom.ConditionQuery(luaL_checkstring(L, 2), count)) lua_pushnumber(L, static_cast<lua_Number>(count));
    else lua_pushnil(L);
    return 1;
}

int ConditionWait(lua_State* L) {
    CDom& dom = Self(L);
    const char* name = luaL_checkstring(L, 2);
    long long lastSeen = static_cast<long long>(luaL_checknumber(L, 3));
    unsigned int ms = static_cast<unsigned int>(luaL_checkunsigned(L, 4));
    long long count = 0;
    bool raised = dom.ConditionWait(name, lastSeen, ms, count);
    lua_pushboolean(L, raised);
    lua_pushnumber(L, static_cast<lua_Number>(count));
    return 2;
}

int ShouldExit(lua_State* L) {
    CDom& dom = Self(L);
    unsigned int ms = static_cast<unsigned int>(luaL_optunsigned(L, 2, 0));
    bool awakened = false;
    lua_pushboolean(L, dom.ShouldExit(ms, &awakened));
    lua_pushboolean(L, awakened);
    return 2;
}

int RequestStop(lua_State* L) {
    Self(L).RequestStop();
    return 0;
}

int MsgBusEnqueue(lua_State* L) {
    CDom& dom = Self(L);
    const char* queue = luaL_checkstring(L, 2);
    size_t length = 0;
    const char* data = luaL_checklstring(L, 3, &length);
    dom.MsgBusEnqueue(queue, std::string(data, length));
    return 0;
}

int LogLine(lua_State* L) {
    Self(L);
    static const char* const levels[] = {"error", "warning", "info", nullptr};
    int level = luaL_checkoption(L, 2, nullptr, levels);
    const char* text = luaL_checkstring(L, 3);
    Log(static_cast<LogLevel>(level), wxString::FromUTF8(text));
    return 0;
}

int Trace(lua_State* L) {
    Self(L);
    const char* category = luaL_checkstring(L, 2);
    const char* text = luaL_checkstring(L, 3);
    if (LogTraceIsEnabled(category)) {
        lua_Debug where;
        int line = 0;
        std::string source = "lua";
        if (lua_getstack(L, 1, &where) && lua_getinfo(L, "Sl", &where)) {
            line = where.currentline;
            source = where.short_src;
        }
        LogTrace(category, source.c_str(), line, "lua", wxString::FromUTF8(text));
    }
    return 0;
}

int GetWorkdir(lua_State* L) {
    CDom& dom = Self(L);
    // utf8_str() of a temporary would point into a string already gone.
    const std::string path = dom.GetWorkdirWx().utf8_string();
    lua_pushlstring(L, path.data(), path.size());
    return 1;
}

int StartThread(lua_State* L) {
    CDom& dom = Self(L);
    luaL_checkstring(L, 2);
    int top = lua_gettop(L);
    for (int i = 3; i <= top; ++i) luaL_checkstring(L, i);
    std::vector<std::string> arguments;
    for (int i = 3; i <= top; ++i) arguments.emplace_back(lua_tostring(L, i));
    CLuaThread* thread = SLB::NewObject<CLuaThread>(L, kThreadClass, dom, lua_tostring(L, 2), std::move(arguments));
    bool started = thread->start();
    if (!started) return luaL_error(L, "cannot start an agent thread");
    return 1;
}

CLuaThread& ThreadSelf(lua_State* L) { return *static_cast<CLuaThread*>(SLB::CheckSelf(L, kThreadClass)); }

int ThreadAwaken(lua_State* L) {
    ThreadSelf(L).Awaken();
    return 0;
}

int ThreadRequestExit(lua_State* L) {
    ThreadSelf(L).requestExit();
    return 0;
}

int ThreadJoin(lua_State* L) {
    CLuaThread& thread = ThreadSelf(L);
    thread.join();
    std::string error;
    bool ok = thread.Succeeded(error);
    lua_pushboolean(L, ok);
    if (ok) lua_pushnil(L);
    else lua_pushlstring(L, error.data(), error.size());
    return 2;
}

int ThreadIsRunning(lua_State* L) {
    lua_pushboolean(L, ThreadSelf(L).isRunning());
    return 1;
}

int Traceback(lua_State* L) {
    const char* message = lua_tostring(L, 1);
    if (!message) message = luaL_tolstring(L, 1, nullptr);
    luaL_traceback(L, L, message, 1);
    return 1;
}

}  // namespace

void PushDom(lua_State* L, CDom& dom) { SLB::NewObject<CDom>(L, kDomClass, dom); }

void OpenAgentLua(lua_State* L, CDom& dom) {
    SLB::Open(L);
    SLB::Class(L, kDomClass)
        .Method("Get", Get)
        .Method("Set", Set)
        .Method("ConditionRegister", ConditionRegister)
        .Method("ConditionRaise", ConditionRaise)
        .Method("ConditionQuery", ConditionQuery)
        .Method("ConditionWait", ConditionWait)
        .Method("ShouldExit", ShouldExit)
        .Method("RequestStop", RequestStop)
        .Method("MsgBusEnqueue", MsgBusEnqueue)
        .Method("Log", LogLine)
        .Method("Trace", Trace)
        .Method("GetWorkdir", GetWorkdir)
        .Method("StartThread", StartThread);
    SLB::Class(L, kThreadClass)
        .Method("Awaken", ThreadAwaken)
        .Method("RequestExit", ThreadRequestExit)
        .Method("Join", ThreadJoin)
        .Method("IsRunning", ThreadIsRunning);
    PushDom(L, dom);
    lua_setglobal(L, "dom");
    std::string cpath, path;
    lua_getglobal(L, "package");
    if (lua_istable(L, -1) && dom.Get(Keys::kLuaCpath, cpath)) {
        lua_pushlstring(L, cpath.data(), cpath.size());
        lua_setfield(L, -2, "cpath");
    }
    if (lua_istable(L, -1) && dom.Get(Keys::kLuaPath, path)) {
        lua_getfield(L, -1, "path");
        const char* own = lua_tostring(L, -1);
        path += std::string(";") + (own ? own : "");
        lua_pop(L, 1);
        lua_pushlstring(L, path.data(), path.size());
        lua_setfield(L, -2, "path");
    }
    lua_pop(L, 1);
}

bool RunLuaFile(lua_State* L, const char* path, int argc, const char* const* argv, std::string& error) {
    lua_pushcfunction(L, Traceback);
    int handler = lua_gettop(L);
    if (luaL_loadfile(L, path) != LUA_OK) {
        error = lua_tostring(L, -1);
        lua_settop(L, handler - 1);
        return false;
    }
    for (int i = 0; i < argc; ++i) lua_pushstring(L, argv[i]);
    bool ok = lua_pcall(L, argc, 0, handler) == LUA_OK;
    if (!ok) {
        const char* message = lua_tostring(L, -1);
        error = message ? message : "(error object is not a string)";
    }
    lua_settop(L, handler - 1);
    return ok;
}

}  // namespace KvoCore
