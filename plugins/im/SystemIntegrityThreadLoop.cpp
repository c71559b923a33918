// CSystemIntegrityThread: the control loop. Each iteration harvests ended
// scanners, watches disk space, starts queued scanners within the running
// limit, closes a completed scan, processes rule changes, and initiates the
// scan a need flag asks for; then it sleeps until the next iteration, a
// scanner's wake-up or the agent's stop.
#include <stdlib.h>
#include <unistd.h>

#include <wx/tokenzr.h>
#include <wx/utils.h>

#include "core/Log.h"
#include "core/Runnable.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/DiskSpaceWatch.h"
#include "plugins/im/PseudoRealtimeSchedule.h"
#include "plugins/im/SystemIntegrityOnChangeThreadLegacy.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

namespace {

const unsigned int kIdleWaitMs = 15000;
const unsigned int kUnitTestWaitMs = 100;
// Right after a scan was initiated: its scanners start on the next iteration.
const unsigned int kAfterInitiateMs = 10;
// A scanner that ends unfinished is queued again this many times in a row.
const int kMaxRetries = 5;

const char* const kConfigUpdated = KvoCore::Keys::kConfigUpdated;
// True while scanning is suspended for want of disk space.
const char* const kNeedFlags[] = {Keys::kOnChangeDataPending, Keys::kNeedRebuildBaseline,
                                  Keys::kNeedIncrementalScan, Keys::kNeedPseudoRealtimeScan};

unsigned int Tick() { return static_cast<unsigned int>(KvoCore::SystemTickCount()); }

bool FreeDiskSpace(const wxString& path, unsigned long long& freeBytes) {
    wxDiskspaceSize_t freeSpace = 0;
    if (!wxGetDiskSpace(path, nullptr, &freeSpace)) return false;
    freeBytes = static_cast<unsigned long long>(freeSpace.GetValue());
    return true;
}

}  // namespace

// What OnRun keeps from one iteration to the next.
struct CSystemIntegrityThread::LoopState {
    explicit LoopState(unsigned int now) : disk(now, s_WarnedOfLowDiskMb), startTick(now) {}

    CDiskSpaceWatch disk;
    unsigned int startTick;
    long long configSeen = 0;
    long long onChangeSeen = 0;
    long long abortSeen = 0;
    wxString workDir;
    wxString dbPath;
    bool realtimeMode = false;
    bool unitTest = false;
    long long iterationsLeft = 0;
    unsigned int waitMs = kIdleWaitMs;
    int retries = 0;
};

// What the harvest of ended scanners found.
struct CSystemIntegrityThread::Harvest {
    bool baselineRunning = false;
    bool anyFinished = false;
    bool reschedule = false;
    long long lastScanId = 0;
    int lastType = 0;
};

void CSystemIntegrityThread::main() {
    OnRun();
    OnExit();
}

void CSystemIntegrityThread::OnRun() {
    KVO_TRACE(s_Trace, "OnRun()");
    for (const char* name : {kConfigUpdated, Keys::kOnChangeDataAvailable, Keys::kScanAborted}) m_dom.ConditionRegister(name);
    LoopState loop(Tick());
    loop.configSeen = ConditionCount(kConfigUpdated);
    if (!OpenSystemIntegrityDb()) return;
    UpdateSettingsFromConfig();
    OnStartupConfigCheck();
    QueueIncompleteScanners();
    InitializeEntityCounts();
    InitializeAttributeCounts();
    CountEntitiesAtStart();
    PrepareLoop(loop);
    unsigned int sleepMs = loop.waitMs;
    while (RunIteration(loop, sleepMs)) m_dom.ShouldExit(sleepMs);
}

void CSystemIntegrityThread::PrepareLoop(LoopState& loop) {
    loop.startTick = Tick();
    loop.workDir = m_dom.GetPluginWorkdirWx("im");
    loop.dbPath = m_dom.GetWxString(Keys::kDbPath);
    loop.realtimeMode = Flag(Keys::kRealtimeMode);
    KVO_TRACE(s_Trace, "realtimeMode is %d", loop.realtimeMode ? 1 : 0);
    long long iterations = 0;
    if (Flag(KvoCore::Keys::kModeUnitTest) && m_dom.Get(Keys::kUnittestIterations, iterations)) {
        loop.unitTest = true;
        loop.iterationsLeft = iterations;
        loop.waitMs = kUnitTestWaitMs;
        KVO_TRACE(s_Trace, "IM in unit test mode, will do at least %ld loop iterations", static_cast<long>(iterations));
    }
    loop.onChangeSeen = ConditionCount(Keys::kOnChangeDataAvailable);
    loop.abortSeen = ConditionCount(Keys::kScanAborted);
}

// False when OnRun must return; otherwise sleepMs is the sleep before the next iteration.
bool CSystemIntegrityThread::RunIteration(LoopState& loop, unsigned int& sleepMs) {
    if (m_dom.ShouldExit(0)) return false;
    if (Flag(Keys::kMirtMode)) {
        KVO_TRACE(s_Trace, "legacy IM in mirtMode exiting");
        return false;
    }
    Harvest harvest;
    HarvestScanners(harvest);
    if (m_runningScanners.empty()) {
        purgeEntitiesInDenormalizedMode();
        m_dom.SetNil(Keys::kScanRunning);
    } else {
        m_dom.Set(Keys::kScanRunning, true);
    }
    m_dom.Set(Keys::kBaselineScanRunning, harvest.baselineRunning);
    // Unit tests run a bounded number of iterations, but never leave a scanner behind.
    if (loop.unitTest && loop.iterationsLeft-- <= 0 && m_runningScanners.empty()) return false;

    sleepMs = loop.waitMs;
    if (HandleConfigRemoved(loop) || HandleScanAborted(loop)) return true;
    // A scanner that ended unfinished may have met a full disk: that is
    // looked at before a retry would meet it again.
    if (harvest.reschedule || m_bWriteFailedFull) loop.disk.CheckSoon();
    m_bWriteFailedFull = false;
    WatchDiskSpace(loop);
    if (loop.disk.IsLow()) return true;
    StartQueuedScanners();
    if (!m_runningScanners.empty()) {
        m_dom.Set(Keys::kScanRunning, true);
        return true;
    }
    m_dom.SetNil(Keys::kScanRunning);
    if (harvest.anyFinished && RetryOrCompleteScan(loop, harvest)) return true;
    ProcessRulesOrSchedule(loop, sleepMs);
    if (m_bVmSafeGuest) CheckControlFiles();
    LoadIncrementalRuleIds();
    NoteOnChangeData(loop);
    if (AnyNeedFlag()) {
        loop.disk.Resume();
        if (Flag(Keys::kFeatureOn) && TryInitiateScan()) sleepMs = kAfterInitiateMs;
        return true;
    }
    KeepLegacyThread(loop);
    loop.disk.Resume();
    return true;
}

void CSystemIntegrityThread::HarvestScanners(Harvest& harvest) {
    for (auto it = m_runningScanners.begin(); it != m_runningScanners.end();) {
        CIntegrityScanThread* scanner = *it;
        if (scanner->isRunning()) {
            if (scanner->GetScanType() == ScanBaseline) harvest.baselineRunning = true;
            ++it;
            continue;
        }
        harvest.lastScanId = scanner->GetScanId();
        harvest.lastType = scanner->GetScanType();
        if (!scanner->IsFinished()) {
            harvest.reschedule = true;
            KVO_TRACE(s_Trace, "Thread %s terminated before finishing the scan. Rescheduling it.",
                      scanner->GetThreadName());
        }
        scanner->join();
        delete scanner;
        it = m_runningScanners.erase(it);
        harvest.anyFinished = true;
    }
}

bool CSystemIntegrityThread::HandleConfigRemoved(LoopState& loop) {
    const long long count = ConditionCount(kConfigUpdated);
    if (count == loop.configSeen || !m_dom.ConfigIsEmpty()) return false;
    OnDeactivated();
    loop.configSeen = count;
    return true;
}

bool CSystemIntegrityThread::HandleScanAborted(LoopState& loop) {
    const long long count = ConditionCount(Keys::kScanAborted);
    if (count == loop.abortSeen) return false;
    KVO_TRACE(s_Trace, "Scan aborted.");
    StopScannerThreads();
    DeleteIncompleteScanData();
    loop.abortSeen = count;
    return true;
}

void CSystemIntegrityThread::WatchDiskSpace(LoopState& loop) {
    bool legacyRunning = false;
    {
        wxMutexLocker lock(m_legacyLock);
        legacyRunning = m_legacyThread != nullptr;
    }
    // Idle without real-time work, nothing writes to the disk. A scan about to
    // start does: the space is looked at before its first write.
    if (!loop.realtimeMode && !legacyRunning && m_runningScanners.empty() && m_scannerQueue.empty() &&
        !AnyNeedFlag() && !loop.disk.IsLow())
        return;
    const CDiskSpaceWatch::Result result = loop.disk.Check(
        Tick(), loop.workDir, m_freeMbMin, m_diskSpaceProbe ? m_diskSpaceProbe : CDiskSpaceWatch::Probe(FreeDiskSpace));
    if (result.outcome == CDiskSpaceWatch::Outcome::Recovered) {
        m_dom.SetNil(Keys::kDiskSpaceLow);
        // Scanners still waiting in the queue would be queued a second time for the same subscans.
        DeleteScannersWaiting();
        QueueIncompleteScanners();
    }
    if (result.outcome != CDiskSpaceWatch::Outcome::BecameLow) return;
    m_dom.Set(Keys::kDiskSpaceLow, true);
    // Failures for want of space are no reason to give up on a scanner.
    loop.retries = 0;
    if (result.warn) {
        m_dom.DoAgentEventWrite(6012, "%s|%lu|%d", loop.dbPath, result.freeMb, m_freeMbMin);
        KvoCore::LogWarning(wxString::Format(
            "Disk space is low - suspending integrity scanning temporarily. %lu MB are free and we need a minimum "
            "of %d MB.",
            result.freeMb, m_freeMbMin));
    }
    StopScannerThreads();
}

void CSystemIntegrityThread::StartQueuedScanners() {
    while (static_cast<long long>(m_runningScanners.size()) < m_scannersRunningLimit && !m_scannerQueue.empty()) {
        CIntegrityScanThread* scanner = m_scannerQueue.front();
        m_scannerQueue.pop_front();
        if (scanner == nullptr) continue;
        m_runningScanners.push_back(scanner);
        scanner->SetIoPriorityIdle(m_bIoPriorityIdle);
        // A VM-safe guest leaves pacing to its host.
        if (m_bVmSafeGuest) {
            scanner->start(50, true, 0);
        } else {
            scanner->SetCPULimit(static_cast<unsigned int>(m_cpuLimit));
            scanner->start(40, true, 0);
        }
        KVO_TRACE(s_Trace, " %u scanners running, just started scan ID %lld ",
                  static_cast<unsigned int>(m_runningScanners.size()), scanner->GetScanId());
        if (scanner->GetScanType() == ScanBaseline) m_dom.Set(Keys::kBaselineScanRunning, true);
    }
}

// True when the unfinished subscans were queued again (the loop sleeps);
// otherwise the scan has been closed.
bool CSystemIntegrityThread::RetryOrCompleteScan(LoopState& loop, const Harvest& harvest) {
    if (harvest.reschedule) {
        if (loop.retries < kMaxRetries) {
            const int queued = QueueIncompleteScanners();
            ++loop.retries;
            KvoCore::LogWarning(
                wxString::Format("Retry #%d for %d failed integrity scan threads.", loop.retries, queued));
            return true;
        }
        m_dom.DoAgentEventWriteAndLog(2001, KvoCore::LogLevel::Error,
                                      "At least one integrity scan thread has failed %d times in a row. Giving up "
                                      "on it and marking the integrity scan as completed.",
                                      loop.retries);
    }
    CompleteScan(harvest.lastScanId, harvest.lastType);
    loop.retries = 0;
    return false;
}

void CSystemIntegrityThread::ProcessRulesOrSchedule(LoopState& loop, unsigned int& sleepMs) {
    if (m_bRulesChanged || Flag(Keys::kRulesChanged) || ConditionCount(kConfigUpdated) != loop.configSeen) {
        KVO_TRACE(s_Trace, "The configuration changed. Stopping scanners and processing rules for changes.");
        StopScannerThreads();
        OnRulesChanged();
        loop.configSeen = ConditionCount(kConfigUpdated);
        m_bRulesChanged = false;
        return;
    }
    if (!m_bAllowOnChange || m_pseudoRealtimeGate == 0 || Flag(KvoCore::Keys::kModeLoadTest)) return;
    const CPseudoRealtimeSchedule::Decision decision = CPseudoRealtimeSchedule::Decide(
        Tick(), loop.startTick, m_lastPseudoRealtimeTick, m_lastPseudoRealtimeDuration);
    if (decision.due)
        m_dom.Set(Keys::kNeedPseudoRealtimeScan, true);
    else if (decision.sleepMs > 0)
        sleepMs = decision.sleepMs;
}

// A VM-safe guest is told to scan by files its host drops into the working directory.
void CSystemIntegrityThread::CheckControlFiles() {
    if (::unlink("do-baseline") == 0)
        m_dom.Set(Keys::kNeedRebuildBaseline, true);
    else if (::unlink("do-incremental") == 0)
        m_dom.Set(Keys::kNeedIncrementalScan, true);
}

void CSystemIntegrityThread::LoadIncrementalRuleIds() {
    if (!m_dom.TestAndSet(Keys::kNeedIncrementalScan, false)) return;
    m_incrementalRuleIds.clear();
    wxStringTokenizer pieces(m_dom.GetWxString(Keys::kIntegrityRuleIds), wxT(","));
    while (pieces.HasMoreTokens()) {
        const long long id = strtoll(pieces.GetNextToken().utf8_str(), nullptr, 10);
        if (id > 0) m_incrementalRuleIds.insert(id);
    }
    m_dom.Set(Keys::kNeedIncrementalScan, true);
}

void CSystemIntegrityThread::NoteOnChangeData(LoopState& loop) {
    const long long count = ConditionCount(Keys::kOnChangeDataAvailable);
    if (count == loop.onChangeSeen) return;
    loop.onChangeSeen = count;
    m_dom.Set(Keys::kOnChangeDataPending, true);
}

bool CSystemIntegrityThread::AnyNeedFlag() const {
    for (const char* flag : kNeedFlags)
        if (Flag(flag)) return true;
    return false;
}

void CSystemIntegrityThread::KeepLegacyThread(const LoopState& loop) {
    if (m_bVmSafeGuest) return;
    wxMutexLocker lock(m_legacyLock);
    if (loop.realtimeMode) return;
    KVO_TRACE(s_Trace, "realtime Mode is not supported reverting to legacy real-time mode");
    // A thread that ended on its own (its database could not be opened) is
    // replaced, or real-time monitoring would stay off until the next stop.
    if (m_legacyThread != nullptr && !m_legacyThread->isRunning()) StopLegacyThread();
    if (m_legacyThread != nullptr || !m_bAllowOnChange || Flag(KvoCore::Keys::kModeLoadTest)) return;
    m_legacyThread =
        CSystemIntegrityOnChangeThreadLegacy::CreateOnChangeThread(m_dom, m_onChangeBackoffMin, m_onChangeBackoffMax);
    if (m_legacyThread != nullptr && !m_legacyThread->start(50, true, 0)) StopLegacyThread();
}

long long CSystemIntegrityThread::ConditionCount(const char* name) const {
    long long count = 0;
    m_dom.ConditionQuery(name, count);
    return count;
}

void CSystemIntegrityThread::OnExit() {
    KVO_TRACE(s_Trace, "OnExit()");
    DeleteScannersWaiting();
    StopScannerThreads();
    CloseSystemIntegrityDb();
    ClearRTIMMisses();
}

}  // namespace KvoPluginIm
