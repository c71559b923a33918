// The integrity plug-in's state keys that the host sets before the plug-in
// starts or reads to follow it. They are the plug-in's interface to its host,
// so the host spells them once, here, rather than reaching into the plug-in.
#pragma once

namespace PluginKeys {

inline constexpr char kDbPath[] = "zel.im.dbPath";
inline constexpr char kFeatureOn[] = "zel.im.featureOn";
inline constexpr char kRealtimeMode[] = "zel.im.realtimeMode";
// Scanners running at once, per CPU (one at a time when absent).
inline constexpr char kThreadsPerCpu[] = "zel.im.SystemIntegrity.ThreadsPerCpu";
// Followed by the entity type: the queue of external entity records.
inline constexpr char kExternalEntityQueuePrefix[] = "zel.im.ExternalEntity.";
inline constexpr char kNeedRebuildBaseline[] = "zel.im.bNeedRebuildBaseline";
inline constexpr char kNeedIncrementalScan[] = "zel.im.bNeedIncrementalScan";
// Raised by the on-change object when settled changes wait for a real-time scan.
inline constexpr char kOnChangeDataAvailable[] = "zel.im.OnChangeDataAvailable";
// Raised by the control thread when it starts a scan and when one completes.
inline constexpr char kScanInitiated[] = "zel.im.scanInitiated";
inline constexpr char kScanCompleted[] = "zel.im.scanCompleted";
// Set when real-time changes wait in si.db for a real-time scan.
inline constexpr char kOnChangeDataPending[] = "zel.im.bOnChangeDataAvailable";
// Set by the plug-in while it has suspended scanning for want of disk space.
inline constexpr char kDiskSpaceLow[] = "zel.im.bDiskSpaceLow";

}  // namespace PluginKeys
