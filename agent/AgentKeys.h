// The host's own state keys: the real-time engine's setting and what it
// publishes for `kvo-agent status`. Spelt once, here (the plug-in's keys the
// host uses are in PluginKeys.h).
#pragma once

namespace AgentKeys {

// "off" turns the engine off (the plug-in's legacy thread runs instead),
// "inotify" or "fanotify" forces one; anything else or absent: fanotify when
// the kernel allows it, else inotify.
inline constexpr char kRealtime[] = "kvo.realtime";
// How many notifications may wait for the Lua loop (default 65536).
inline constexpr char kRealtimeQueueSize[] = "kvo.realtime.queueSize";
// Published by the engine: "fanotify", "inotify" or "none".
inline constexpr char kRealtimeEngine[] = "kvo.realtime.engine";
inline constexpr char kRealtimeWatchedDirs[] = "kvo.realtime.watchedDirs";
inline constexpr char kRealtimeUnwatchedDirs[] = "kvo.realtime.unwatchedDirs";
// Notifications the engine could not deliver, each covered by an incremental scan.
inline constexpr char kRealtimeDeferred[] = "kvo.realtime.deferred";
// Raised by the engine each time it asks for an incremental scan: the host
// wakes the control thread, which would otherwise see it after its pause.
inline constexpr char kRealtimeScanAsked[] = "kvo.realtime.scanAsked";

}  // namespace AgentKeys
