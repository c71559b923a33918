// CSystemIntegrityThread: stopping and discarding scanner threads, as rule
// processing, deactivation and exit need before they touch entity rows.
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

void CSystemIntegrityThread::StopScannerThreads() {
    // Asking all first lets them wind down together rather than one after another.
    for (CIntegrityScanThread* scanner : m_runningScanners)
        if (scanner != nullptr) scanner->requestExit();
    while (!m_runningScanners.empty()) {
        CIntegrityScanThread* scanner = m_runningScanners.front();
        m_runningScanners.pop_front();
        if (scanner == nullptr) continue;
        KvoCore::CRunnable::StopThread(scanner, s_Trace);
        delete scanner;
    }
    m_dom.SetNil(Keys::kScanRunning);
}

void CSystemIntegrityThread::DeleteScannersWaiting() {
    while (!m_scannerQueue.empty()) {
        CIntegrityScanThread* scanner = m_scannerQueue.front();
        m_scannerQueue.pop_front();
        delete scanner;
    }
}

}  // namespace KvoPluginIm
