// CSystemIntegrityThread: start-up around a virtual-machine migration. The
// agent's migration support drops marker files into the plug-in's "vmotion"
// directory: "saving" while the machine is about to move away, "restoring"
// while its state is brought back after the move.
#include <wx/filefn.h>
#include <wx/filename.h>

#include "core/Log.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/StateKeys.h"
#include "core/StateKeys.h"

namespace KvoPluginIm {

namespace {

const unsigned int kSavingTimeoutMs = 180000;
const unsigned int kRestorePollMs = 2000;

}  // namespace

void CSystemIntegrityThread::HandleVmotionStartup() {
    const wxString dir = m_dom.GetPluginWorkdirWx("vmotion");
    const wxString saving = dir + wxT("saving");
    if (wxFileName::FileExists(saving)) {
        WaitWhileSaving(saving);
        return;
    }
    if (Flag(KvoCore::Keys::kVmotioned)) WaitForRestore(dir + wxT("restoring"));
}

// What an interrupted scan recorded would be half a scan on the other side.
void CSystemIntegrityThread::WaitWhileSaving(const wxString& savingFile) {
    KVO_TRACE(s_Trace, "vmotion saving mode - deleting any entities and events from in-progress scans");
    if (OpenSystemIntegrityDb()) DeleteIncompleteScanData();
    if (m_dom.ShouldExit(kSavingTimeoutMs))
        KVO_TRACE(s_Trace, "vmotion saving mode - got signal to destroy dom");
    else
        KvoCore::LogWarning("vmotion saving mode - timeout. vmotion probably failed so continue work");
    wxRemoveFile(savingFile);
}

void CSystemIntegrityThread::WaitForRestore(const wxString& restoringFile) {
    const long long configCount = ConditionCount(KvoCore::Keys::kConfigUpdated);
    m_dom.Set(Keys::kVmotionProcessing, true);
    do {
        KVO_TRACE(s_Trace, "vmotion restore mode - waiting for restore to finish...");
        if (m_dom.ShouldExit(kRestorePollMs)) return;
    } while (wxFileName::FileExists(restoringFile));
    m_dom.SetNil(Keys::kVmotionProcessing);
    // The restored configuration is read again before the loop compares rules.
    m_dom.ConditionRaise(KvoCore::Keys::kConfigReload);
    do {
        KVO_TRACE(s_Trace, "vmotion restore mode - waiting for config to update...");
        if (m_dom.ShouldExit(kRestorePollMs)) return;
    } while (ConditionCount(KvoCore::Keys::kConfigUpdated) == configCount);
    KVO_TRACE(s_Trace, "vmotion restore mode - finished");
}

}  // namespace KvoPluginIm
