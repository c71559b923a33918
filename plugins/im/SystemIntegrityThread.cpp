// CSystemIntegrityThread: construction and destruction.
#include "plugins/im/SystemIntegrityThread.h"

#include <stdexcept>

#include <wx/config.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

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
    : m_incrementalRuleIds(kRuleIdBuckets),
      m_dom(TheAgent()),
      m_lastPseudoRealtimeTick(static_cast<unsigned int>(KvoCore::SystemTickCount())) {
    KVO_TRACE(s_Trace, "CSystemIntegrityThread()");
    // Asking for the configuration object creates the default one when the process has none.
    wxConfigBase::Get(true);
    m_scannersRunningLimit = ComputeScannersRunningLimit(m_dom);
    KVO_TRACE(s_Trace, "IM ScannersRunningLimit is %d", static_cast<int>(m_scannersRunningLimit));
    bool vmSafeGuest = false;
    m_bVmSafeGuest = m_dom.Get(KvoCore::Keys::kModeVmsafeGuest, vmSafeGuest) && vmSafeGuest;
}

CSystemIntegrityThread::~CSystemIntegrityThread() { CloseSystemIntegrityDb(); }

}  // namespace KvoPluginIm
