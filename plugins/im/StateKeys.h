// Names this plug-in shares with the agent: state keys, conditions and trace
// categories. Every use goes through these, so that a misspelt name fails to
// compile instead of silently reading another key.
#pragma once

namespace KvoPluginIm {
namespace Keys {

inline constexpr char kDbPath[] = "zel.im.dbPath";
inline constexpr char kFeatureOn[] = "zel.im.featureOn";
inline constexpr char kRealtimeMode[] = "zel.im.realtimeMode";
inline constexpr char kMirtMode[] = "zel.im.mirtMode";
inline constexpr char kTestExternalEntities[] = "zel.im.testExternalEntities";
inline constexpr char kMaxDequeueErrors[] = "zel.im.MaxDequeueErrors";
inline constexpr char kExternalEntityQueuePrefix[] = "zel.im.ExternalEntity.";
inline constexpr char kUuid[] = "uuid";
inline constexpr char kIntegrityRuleIds[] = "zel.im.integrityRuleIds";
inline constexpr char kEventsToRetain[] = "zel.im.eventsToRetain";
inline constexpr char kMinContentSizeForRenameDetection[] = "zel.im.MinContentSizeForRenameDetection";
inline constexpr char kThreadsPerCpu[] = "zel.im.SystemIntegrity.ThreadsPerCpu";
inline constexpr char kUnittestIterations[] = "zel.im.unittest.iterations";
inline constexpr char kNeedRebuildBaseline[] = "zel.im.bNeedRebuildBaseline";
inline constexpr char kNeedIncrementalScan[] = "zel.im.bNeedIncrementalScan";
inline constexpr char kNeedPseudoRealtimeScan[] = "zel.im.bNeedPseudoRealtimeScan";
inline constexpr char kOnChangeDataPending[] = "zel.im.bOnChangeDataAvailable";
inline constexpr char kRulesChanged[] = "zel.im.bRulesChanged";
inline constexpr char kScanRunning[] = "zel.im.bScanRunning";
inline constexpr char kBaselineScanRunning[] = "zel.im.bBaselineScanRunning";
inline constexpr char kVmotionProcessing[] = "zel.im.bVmotionProcessing";
inline constexpr char kDiskSpaceLow[] = "zel.im.bDiskSpaceLow";
inline constexpr char kOnChangeDataAvailable[] = "zel.im.OnChangeDataAvailable";
inline constexpr char kOnChangeEngine[] = "zel.im.OnChangeEngine";
inline constexpr char kRtimMissUpdated[] = "zel.im.rtimMissUpdated";
inline constexpr char kOnChangeCacheMaxSize[] = "zel.im.OnChange.CacheMaxSize";
inline constexpr char kOnChangeMemoryStatsFrequency[] = "zel.im.OnChange.MemoryStatsFrequency";
inline constexpr char kOnChangeProcessCheckFrequency[] = "zel.im.OnChange.ProcessCheckFrequency";
inline constexpr char kOnChangeUseMemoryDb[] = "zel.im.OnChange.UseMemoryDb";
inline constexpr char kTraceScannerOnChange[] = "zel.im.scanner.onChange";
inline constexpr char kTraceCb[] = "zel.im.cb";
inline constexpr char kConfigProcessed[] = "zel.im.configProcessed";
inline constexpr char kScanInitiated[] = "zel.im.scanInitiated";
inline constexpr char kScanCompleted[] = "zel.im.scanCompleted";
inline constexpr char kScanAborted[] = "zel.im.scanAborted";
inline constexpr char kScanRunningPrefix[] = "zel.im.scanRunning.";
inline constexpr char kScanFinishedPrefix[] = "zel.im.scanFinished.";
inline constexpr char kTraceImThread[] = "zel.im.ImThread";
inline constexpr char kTraceStats[] = "zel.im.stats";
inline constexpr char kTracePattern[] = "zel.im.pattern";
inline constexpr char kTraceKeyMatch[] = "zel.im.keyMatch";
inline constexpr char kTraceScannerFile[] = "zel.im.scanner.file";
inline constexpr char kTraceScannerDir[] = "zel.im.scanner.dir";
inline constexpr char kTraceScannerUser[] = "zel.im.scanner.user";
inline constexpr char kTraceScannerGroup[] = "zel.im.scanner.group";
inline constexpr char kTraceScannerPort[] = "zel.im.scanner.port";
inline constexpr char kTraceScannerProcess[] = "zel.im.scanner.process";
inline constexpr char kTraceScannerInstalledSoftware[] = "zel.im.scanner.instSW";

}  // namespace Keys
}  // namespace KvoPluginIm
