// The scanner as an agent thread: how it stops, whom it wakes, what it tells
// the agent, and the settings it takes at the start of a run.
#include <atomic>

#include "tests/unit/im/ScannerFrameworkTestSupport.h"

namespace KvoTest {
namespace {

using Step = CIntegrityScanThread::ScanStep;

class ScannerLifecycleTest : public ScannerFrameworkFixture {
protected:
    // Runs a scan of type 1 that waits in its matching step until stop() ends it.
    void ExpectShutdownEndsScan(const std::function<void(CScriptedScanThread&)>& stop) {
        const long long subscanId = AddSubscan(AddScan(1), 0);
        HookScript script;
        script.blockAt = 200000;
        auto scanner = NewScanner(subscanId, Step::StepInit, script);
        ASSERT_TRUE(scanner->start());
        ASSERT_TRUE(scanner->Blocked().Wait());
        stop(*scanner);
        scanner->join();

        const std::vector<HookVisit> expected = {{100000, 100000, true}, {200000, 200000, true}};
        EXPECT_EQ(expected, scanner->Visits());
        EXPECT_FALSE(scanner->IsFinished());
        EXPECT_EQ(200000, Stored(subscanId).scanStep);
        EXPECT_TRUE(Stored(subscanId).endTimeNull);
        EXPECT_NE(std::string::npos, LogText().find("Exit because ShouldShutdown() returned true"));
    }
};

TEST_F(ScannerLifecycleTest, ExitRequestEndsScanUnfinished) {
    ExpectShutdownEndsScan([](CScriptedScanThread& scanner) { scanner.requestExit(); });
}

TEST_F(ScannerLifecycleTest, AgentStopEndsScanUnfinished) {
    ExpectShutdownEndsScan([this](CScriptedScanThread&) { m_dom->RequestStop(); });
}

TEST_F(ScannerLifecycleTest, AgentStoppedBeforeFirstStepRunsNoStep) {
    const long long subscanId = AddSubscan(AddScan(0), 0);
    m_dom->RequestStop();
    auto scanner = NewScanner(subscanId, Step::StepInit);
    Run(*scanner);
    EXPECT_TRUE(scanner->Visits().empty());
    EXPECT_FALSE(scanner->IsFinished());
    EXPECT_TRUE(Stored(subscanId).startTimeNull) << "OnInit must not have run";
    EXPECT_NE(std::string::npos, LogText().find("Exit due to loop terminating - ShouldShutdown=1"));
}

// The control thread: waits as its loop does until a scanner wakes it.
class CWaitingParent : public KvoCore::CRunnable {
public:
    CWaitingParent(KvoCore::CDom* dom, bool waitThroughAgent)
        : CRunnable("CWaitingParent", dom), m_throughAgent(waitThroughAgent) {}
    void OnRun() override {
        bool awakened = false;
        const bool stop = m_throughAgent ? GetDom()->ShouldExit(60000, &awakened) : TestDestroy(60000, &awakened);
        m_stop = stop;
        m_awakened = awakened;
    }
    std::atomic<bool> m_stop{true};
    std::atomic<bool> m_awakened{false};

private:
    bool m_throughAgent;
};

class CParentedScanThread : public CScriptedScanThread {
public:
    CParentedScanThread(KvoCore::CDom& dom, KvoPluginIm::CSqlSubscan* subscan, KvoCore::CRunnable* parent)
        : CScriptedScanThread(dom, subscan) {
        m_parent.store(parent);
    }
};

TEST_F(ScannerLifecycleTest, EndingScannerWakesWaitingParent) {
    for (bool throughAgent : {false, true}) {
        SCOPED_TRACE(throughAgent ? "CDom::ShouldExit" : "CRunnable::TestDestroy");
        const long long scanId = AddScan(0);
        const long long subscanId = AddSubscan(scanId, 0);
        CWaitingParent parent(m_dom, throughAgent);
        CParentedScanThread scanner(*m_dom, LoadSubscan(subscanId, Step::StepInit).release(), &parent);
        EXPECT_EQ(&parent, scanner.GetParent());
        EXPECT_EQ(scanId, scanner.GetScanId());
        EXPECT_EQ("User", scanner.GetEntityType());
        ASSERT_TRUE(parent.start());
        Run(scanner);
        parent.join();
        EXPECT_TRUE(parent.m_awakened.load());
        EXPECT_FALSE(parent.m_stop.load());
        EXPECT_EQ(nullptr, scanner.GetParent());
    }
}

TEST_F(ScannerLifecycleTest, DiscardedUnstartedScannerWakesParent) {
    CWaitingParent parent(m_dom, false);
    auto scanner = std::make_unique<CParentedScanThread>(
        *m_dom, LoadSubscan(AddSubscan(AddScan(0), 0), Step::StepInit).release(), &parent);
    EXPECT_FALSE(parent.HasWakeup());
    scanner.reset();
    EXPECT_TRUE(parent.HasWakeup());
}

TEST_F(ScannerLifecycleTest, RunRaisesRunningAndFinishedConditionsOfItsType) {
    auto scanner = NewScanner(AddSubscan(AddScan(0), 0), Step::StepInit);
    Run(*scanner);
    long long running = 0, finished = 0;
    ASSERT_TRUE(m_dom->ConditionQuery("zel.im.scanRunning.User", running));
    ASSERT_TRUE(m_dom->ConditionQuery("zel.im.scanFinished.User", finished));
    EXPECT_EQ(1, running);
    EXPECT_EQ(1, finished);
}

struct RunSettingsCase {
    int scanType;
    long long minContentSizeKey;  // -1: key not set
    unsigned int cpuLimit;
    long long minContentSize;
    int commitIntervalMsec;
};

TEST_F(ScannerLifecycleTest, RunTakesCpuLimitAndRenameThresholdFromScanTypeAndAgent) {
    const std::vector<RunSettingsCase> cases = {
        {0, -1, 100, 17, 3000},
        {1, 4096, 100, 4096, 3000},
        {2, -1, 100, 17, 3000},
        {3, 0, 5, 0, 3000},
    };
    for (const RunSettingsCase& c : cases) {
        SCOPED_TRACE(c.scanType);
        if (c.minContentSizeKey < 0)
            m_dom->SetNil("zel.im.MinContentSizeForRenameDetection");
        else
            m_dom->Set("zel.im.MinContentSizeForRenameDetection", c.minContentSizeKey);
        auto scanner = NewScanner(AddSubscan(AddScan(c.scanType), 0), Step::StepInit);
        EXPECT_EQ(17, scanner->GetMinContentSizeForRenameDetection());
        Run(*scanner);
        EXPECT_EQ(c.cpuLimit, scanner->GetCPULimit());
        EXPECT_EQ(c.minContentSize, scanner->GetMinContentSizeForRenameDetection());
        EXPECT_EQ(c.commitIntervalMsec, scanner->GetCommitIntervalMsec());
        EXPECT_TRUE(scanner->IsFinished());
    }
}

}  // namespace
}  // namespace KvoTest
