// CSystemIntegrityOnChangeThreadLegacy: real-time monitoring on a thread of
// its own, for hosts where the agent runs no real-time engine. It is the
// real-time change object (same cache, coalescing, move, prune and process
// poll) driven by its own loop; a platform subclass supplies the wait between
// rounds and any file monitoring (StartMonitoring, given the on-change sets).
//
// Keys no rule covers are cached as rows of their own, files included: the
// missed-change list belongs to the engine's object. It counts no metrics.
// Created unstarted by CreateOnChangeThread; the owner starts it, stops it
// (requestExit and join) and deletes it. The database lives from OnRun to
// OnExit; the recursive mutex of the change object guards both.
#pragma once

#include "core/Runnable.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"

namespace KvoPluginIm {

class CSystemIntegrityOnChangeThreadLegacy : public KvoCore::CRunnable, protected CSystemIntegrityOnChangeThread {
public:
    static const char* const s_Trace;  // Keys::kTraceScannerOnChange

    // The thread of this platform, not started.
    static CSystemIntegrityOnChangeThreadLegacy* CreateOnChangeThread(KvoCore::CDom& dom, int settleTimeMs,
                                                                      int maxDelayMs);

    void OnRun() override;
    void OnExit() override;
    wxString GetThreadName() const override;

    // Waits up to ms, or less when the thread is woken or asked to stop.
    virtual void OnMainLoopSleep(unsigned int ms) = 0;
    // Starts watching what sets (the on-change sets of one type) cover.
    virtual void StartMonitoring(const CEntitySetInfoPtrList& sets) = 0;

protected:
    CSystemIntegrityOnChangeThreadLegacy(KvoCore::CDom& dom, int settleTimeMs, int maxDelayMs);

    bool OnEntityChanged(const KvoCore::CHostMetaData& entity, int change, long long time, const wxString& user,
                         const wxChar* processName, const wxChar* pid) override;
    void MoveOnChangeRecords() override;
    void RememberNotIncluded(const wxString& type, const wxString& key, int reason) override;
    bool IsRememberedMiss(const wxString&) const override { return false; }
    void CountMetric(const char*) override {}

private:
    // Open's work with the monitoring hooks; false without a database.
    bool SetUp();
};

}  // namespace KvoPluginIm
