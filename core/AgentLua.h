// The agent's Lua surface: the class "SLB.Dom" (the agent object) and the
// class "SLB.AgentThread" (a Lua script on an agent thread of its own).
//
// SLB.Dom functions are called as SLB.Dom.Name(dom, ...) or dom:Name(...):
//   Get(key) -> value | nil          Set(key, value)   (nil clears the key)
//   ConditionRegister(name)          ConditionRaise(name)
//   ConditionQuery(name) -> count | nil
//   ConditionWait(name, lastSeen, ms) -> raised, count
//   ShouldExit(ms) -> stop, awakened RequestStop()
//   MsgBusEnqueue(queue, data)       Log(level, text)  ("error", "warning", "info")
//   Trace(category, text)            GetWorkdir() -> path
//   StartThread(scriptPath, ...) -> SLB.AgentThread
// SLB.AgentThread methods: Awaken(), RequestExit(), Join() -> ok, error text,
//   IsRunning() -> bool.
#pragma once

#include <string>

#include <lua.hpp>

namespace KvoCore {

class CDom;

// Readies a Lua state for agent scripts: the binder, the two classes, the
// global "dom", package.cpath from the state key "kvo.lua.cpath" and
// package.path from "kvo.lua.path" (put before Lua's own).
void OpenAgentLua(lua_State* L, CDom& dom);
// Pushes a userdata of class "SLB.Dom" sharing the agent.
void PushDom(lua_State* L, CDom& dom);
// Runs a script file with arguments as "...": true, or false with the Lua
// error and traceback in error.
bool RunLuaFile(lua_State* L, const char* path, int argc, const char* const* argv, std::string& error);

}  // namespace KvoCore
