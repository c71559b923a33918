// The Lua class "SLB.RealtimeEngine", through which the agent's script drives
// the real-time engine (agent/lua/realtime.lua):
//   SLB.RealtimeEngine.Settings(dom) -> {allowOnChange, settleMs, maxDelayMs}
//       from the agent configuration, read as the plug-in reads them
//   SLB.RealtimeEngine.Start(dom) -> engine | nil, reason
//       (the setting kvo.realtime chooses; kvo.realtime.queueSize bounds the queue)
//   engine:Kind() -> "fanotify" | "inotify"
//   engine:Watch(dirs, extensions)   the on-change object's watch lists
//   engine:Next(ms) -> notification table | nil
//   engine:Stop()
//   SLB.RealtimeEngine.Clock() -> milliseconds of a monotonic clock
// The notification table has the fields the on-change object's Change takes.
#pragma once

#include <lua.hpp>

namespace KvoAgent {

// Registers the class in a new Lua state (a CRunnable Lua set-up hook).
void OpenRealtimeEngineLua(lua_State* L);

}  // namespace KvoAgent
