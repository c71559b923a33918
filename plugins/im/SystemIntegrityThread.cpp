// CSystemIntegrityThread: construction and destruction, stopping and
// discarding scanner threads (as rule processing, deactivation and exit need
// before they touch entity rows), and the entity-table counters.
#include "plugins/im/SystemIntegrityThread.h"

#include <stdexcept>

#include <wx/config.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/SystemIntegrityOnChangeThreadLegacy.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

const char* const CSystemIntegrityThread::s_Trace = Keys::kTraceImThread;
int CSystemIntegrityThread::s_WarnedOfLowDiskMb = 0;

namespace {

// Bucket count of the incremental rule ids: the first prime above 100.
const size_t kRuleIdBuckets = 101;

}  // namespace

const KvoCore::CDom& CSystemIntegrityThread::TheAgent() {
    const KvoCore::CDom* agent = KvoCore::CDom::This();
    if (agent == nullptr)
        throw std::runtime_error("CSystemIntegrityThread needs the agent object, and this process has none");
    return *agent;
}

long long CSystemIntegrityThread::ComputeScannersRunningLimit(const KvoCore::CDom& dom) {
    int cpus = wxThread::GetCPUCount();
    if (cpus <= 0) cpus = 1;
    long long perCpu = 0;
    const long long limit = dom.Get(Keys::kThreadsPerCpu, perCpu) ? cpus * perCpu : 1;
    return limit == 0 ? 1 : limit;
}

CSystemIntegrityThread::CSystemIntegrityThread()
    : m_dom(TheAgent()),
      m_lastPseudoRealtimeTick(static_cast<unsigned int>(KvoCore::SystemTickCount())),
      m_incrementalRuleIds(kRuleIdBuckets) {
    KVO_TRACE(s_Trace, "CSystemIntegrityThread()");
    // Asking for the configuration object creates the default one when the process has none.
    wxConfigBase::Get(true);
    m_scannersRunningLimit = ComputeScannersRunningLimit(m_dom);
    KVO_TRACE(s_Trace, "IM ScannersRunningLimit is %d", static_cast<int>(m_scannersRunningLimit));
    bool vmSafeGuest = false;
    m_bVmSafeGuest = m_dom.Get(KvoCore::Keys::kModeVmsafeGuest, vmSafeGuest) && vmSafeGuest;
}

CSystemIntegrityThread::~CSystemIntegrityThread() { CloseSystemIntegrityDb(); }

void CSystemIntegrityThread::IncEntitiesTotalCount() {
    IncMetric("entitiesInTable", 1);
    IncMetric("entitiesCreated", 1);
}

void CSystemIntegrityThread::IncEntitiesDeletedCount(int n) {
    IncMetric("entitiesInTable", -n);
    IncMetric("entitiesDeleted", n);
}

void CSystemIntegrityThread::IncEntitiesSupercededCount() { IncMetric("entitiesSuperceded", 1); }

void CSystemIntegrityThread::IncMarkersCreatedCount() { IncMetric("entitiesMarkeredCreated", 1); }

void CSystemIntegrityThread::IncMarkersDeletedCount(int n) { IncMetric("entitiesMarkeredDeleted", n); }

void CSystemIntegrityThread::IncIncompleteDeletedCount(int n) { IncMetric("entitiesIncompleteDeleted", n); }

void CSystemIntegrityThread::StopScannerThreads() {
    // Asking all first lets them wind down together rather than one after another.
    {
        wxMutexLocker lock(m_legacyLock);
        if (m_legacyThread != nullptr) m_legacyThread->requestExit();
    }
    for (CIntegrityScanThread* scanner : m_runningScanners)
        if (scanner != nullptr) scanner->requestExit();
    StopLegacyThread();
    while (!m_runningScanners.empty()) {
        CIntegrityScanThread* scanner = m_runningScanners.front();
        m_runningScanners.pop_front();
        if (scanner == nullptr) continue;
        KvoCore::CRunnable::StopThread(scanner, s_Trace);
        delete scanner;
    }
    m_dom.SetNil(Keys::kScanRunning);
}

void CSystemIntegrityThread::StopLegacyThread() {
    wxMutexLocker lock(m_legacyLock);
    KvoCore::CRunnable::StopThread(m_legacyThread, s_Trace);
    delete m_legacyThread;
    m_legacyThread = nullptr;
}

void CSystemIntegrityThread::DeleteScannersWaiting() {
    while (!m_scannerQueue.empty()) {
        CIntegrityScanThread* scanner = m_scannerQueue.front();
        m_scannerQueue.pop_front();
        delete scanner;
    }
}

}  // namespace KvoPluginIm
