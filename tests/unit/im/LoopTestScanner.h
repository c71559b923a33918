// A scanner for the control-loop tests: it goes through the scan's first
// step like a real one (OnInit chooses 100000, or 250000 for real-time
// changes), records what it saw, optionally holds there, and then finishes
// or ends unfinished. What the scanners of one test share lives in a
// CLoopTestScanner::Shared that outlives them.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SqlUserEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "tests/unit/im/NameKeyMatch.h"
#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {

class CLoopTestScanner : public KvoPluginIm::CIntegrityScanThread {
public:
    struct Shared {
        bool finish = true;         // false: end without finishing the subscan
        int holdUntilArrived = 0;   // hold in the first step until this many have reached it,
        int holdMs = 1000;          // but at most this long
        bool holdUntilStop = false;  // hold in the first step until asked to stop
        Latch release;              // with waitForRelease: hold until set
        bool waitForRelease = false;

        std::atomic<int> created{0};
        std::atomic<int> arrived{0};
        std::atomic<int> running{0};
        std::atomic<int> maxRunning{0};
        Latch held;  // set when a scanner holds in its first step
        std::mutex lock;
        std::vector<int> firstSteps;  // the step each scanner's first hook ran for
        std::vector<wxString> types;  // entity type of each scanner, in creation order
        std::vector<int> handedSteps;  // the step each subscan held when handed to its scanner
    };

    CLoopTestScanner(KvoCore::CDom& dom, KvoCore::CRunnable* parent, KvoPluginIm::CSqlSubscan* subscan,
                     Shared& shared)
        : CIntegrityScanThread(dom, subscan), m_shared(shared) {
        m_parent.store(parent);
    }

    wxString GetThreadName() const override { return "CLoopTestScanner"; }
    KvoPluginIm::CSqlEntitySet* CreateEntitySetObject() const override { return new KvoPluginIm::CSqlUserEntitySet(); }
    KvoCore::XMLObjectList* CreateEntitySetCollection() const override {
        return new KvoPluginIm::CSqlUserEntitySets();
    }
    const char* GetTraceMask() const override { return "zel.im.scanner.user"; }
    const KvoPluginIm::CSystemIntegrityKeyMatch* GetKeyMatcher() const override { return &m_matcher; }
    // Never reached: the first step finishes the subscan (or ends it unfinished).
    bool MatchSet(const KvoCore::XMLObjectList*, const KvoPluginIm::CSqlEntitySet*,
                  const KvoPluginIm::CSqlIncludeExcludeFeatures&, const KvoPluginIm::CSqlIncludeExcludePatterns&,
                  const KvoPluginIm::CSqlIntegrityRule&, unsigned long, const KvoCore::Int64Set&) override {
        return false;
    }
    void GatherAttributes(const wxString&, KvoPluginIm::EntityInfoList&) override {}
    void RecordAttribute(const wxString&, const wxString&, const KvoCore::Int64Set&) override {}

    bool OnResetSupersededBy() override { return FirstStep(StepResetSupersededBy); }
    bool OnProcessRealtimeChanges() override { return FirstStep(StepProcessRealtimeChanges); }
    // Ending unfinished means the subscan keeps its step, as after a crash.
    void OnError() override {
        if (m_shared.finish) CIntegrityScanThread::OnError();
    }

private:
    bool FirstStep(int step) {
        {
            std::lock_guard<std::mutex> guard(m_shared.lock);
            m_shared.firstSteps.push_back(step);
        }
        ++m_shared.arrived;
        const int now = ++m_shared.running;
        for (int seen = m_shared.maxRunning.load(); now > seen && !m_shared.maxRunning.compare_exchange_weak(seen, now);) {
        }
        Hold();
        --m_shared.running;
        // Stopped: the subscan keeps its step, as a real scanner leaves it.
        if (!m_shared.finish || ShouldShutdown()) return false;
        SetNextStep(StepFinished);
        return true;
    }

    void Hold() {
        if (m_shared.holdUntilStop || m_shared.waitForRelease) m_shared.held.Set();
        if (m_shared.waitForRelease) m_shared.release.Wait();
        // Bounded, so that a stop that never comes fails the test instead of hanging it.
        for (int i = 0; i < 3000 && m_shared.holdUntilStop && !ShouldShutdown(); ++i) TestDestroy(20, nullptr);
        // Behind a kept limit the others cannot arrive while this one waits: the bound ends the wait.
        for (int i = 0; i < m_shared.holdMs / 10 && m_shared.arrived.load() < m_shared.holdUntilArrived; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    Shared& m_shared;
    NameKeyMatch m_matcher;
};

}  // namespace KvoTest
