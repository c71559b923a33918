// The scanner as an agent thread: how it stops, whom it wakes, what it tells
// the agent, and the settings it takes at the start of a run.
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
