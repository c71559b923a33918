// Names the agent core shares with the host and the plug-ins: state keys,
// conditions and trace categories. Every use goes through these, so that a
// misspelt name fails to compile instead of silently reading another key.
#pragma once

namespace KvoCore {
namespace Keys {

// State keys.
inline constexpr char kWorkPath[] = "app.path.work";
inline constexpr char kLuaCpath[] = "kvo.lua.cpath";
// Where require finds the agent's own Lua modules (a package.path template).
inline constexpr char kLuaPath[] = "kvo.lua.path";
inline constexpr char kEventsIot[] = "kvo.events.iot";
inline constexpr char kHostWindows[] = "kvo.host.windows";
inline constexpr char kModeUnitTest[] = "app.mode.unittest";
inline constexpr char kModeLoadTest[] = "kvo.mode.loadtest";
inline constexpr char kModeVmsafeGuest[] = "kvo.mode.vmsafeGuest";
inline constexpr char kVmotioned[] = "kvo.vmotioned";

// Conditions.
inline constexpr char kConfigReload[] = "app.configReload";
inline constexpr char kConfigUpdated[] = "app.configUpdated";
inline constexpr char kHeartbeatNow[] = "kvo.HeartbeatNow";

// Trace categories.
inline constexpr char kTraceThread[] = "kvo.core.thread";
inline constexpr char kTraceMemory[] = "kvo.core.memory";
inline constexpr char kTraceAgent[] = "kvo.agent";

}  // namespace Keys
}  // namespace KvoCore
