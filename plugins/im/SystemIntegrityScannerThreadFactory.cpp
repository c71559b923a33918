// CIntegrityScanThread: the factory that picks the scanner class of an entity type.
#include <vector>

#include "core/Log.h"
#include "plugins/im/SystemIntegrityFileScannerThreadDirectory.h"
#include "plugins/im/SystemIntegrityFileScannerThread.h"
#include "plugins/im/SystemIntegrityGroupScannerThread.h"
#include "plugins/im/SystemIntegrityInstalledSoftwareScannerThread.h"
#include "plugins/im/SystemIntegrityPortScannerThread.h"
#include "plugins/im/SystemIntegrityProcessScannerThread.h"
#include "plugins/im/SystemIntegrityUserScannerThread.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {
namespace {

struct ScannerKind {
    const wxChar* entityType;
    // A VM-safe guest hands file scanning to an external scanner and runs
    // nothing else, so only the kinds marked here are created there.
    bool inVmSafeGuest;
    CIntegrityScanThread* (*create)(KvoCore::CDom& dom, CSqlSubscan* subscan);
};

template <typename TScanner>
CIntegrityScanThread* Create(KvoCore::CDom& dom, CSqlSubscan* subscan) {
    return new TScanner(dom, subscan);
}

// One row per entity type that has a scanner class, in the order types are
// tried, e.g. {wxT("File"), true, &Create<CFileIntegrityScanThread>}.
const std::vector<ScannerKind>& ScannerKinds() {
    static const std::vector<ScannerKind> kinds = {
        {wxT("File"), true, &Create<CFileIntegrityScanThread>},
        {wxT("Directory"), false, &Create<CDirectoryIntegrityScanThread>},
        {wxT("User"), false, &Create<CUserIntegrityScanThread>},
        {wxT("Group"), false, &Create<CGroupIntegrityScanThread>},
        {wxT("Port"), false, &Create<CPortIntegrityScanThread>},
        {wxT("Process"), false, &Create<CProcessIntegrityScanThread>},
        {wxT("InstalledSoftware"), false, &Create<CInstalledSoftwareIntegrityScanThread>},
    };
    return kinds;
}

const ScannerKind* FindScannerKind(const wxString& entityType) {
    for (const ScannerKind& kind : ScannerKinds())
        if (entityType.IsSameAs(kind.entityType, false)) return &kind;
    return nullptr;
}

}  // namespace

CIntegrityScanThread* CIntegrityScanThread::CreateIntegrityScanThread(KvoCore::CDom& dom, KvoCore::CRunnable* parent,
                                                                      CSqlSubscan* subscan) {
    if (subscan == nullptr) return nullptr;
    const ScannerKind* kind = FindScannerKind(subscan->m_entityType);
    bool vmSafeGuest = false;
    if (kind != nullptr && !kind->inVmSafeGuest && dom.Get(KvoCore::Keys::kModeVmsafeGuest, vmSafeGuest) && vmSafeGuest)
        kind = nullptr;
    if (kind == nullptr) {
        KvoCore::LogError(
            wxString::Format("Unknown/unsupported integrity monitoring entity type: '%s'", subscan->m_entityType));
        return nullptr;
    }
    CIntegrityScanThread* thread = kind->create(dom, subscan);
    thread->m_parent.store(parent);
    return thread;
}

}  // namespace KvoPluginIm
