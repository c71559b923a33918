// The control loop driven as the agent's unit-test mode intends: main() on an
// agent thread for a bounded number of iterations over a real si.db, with
// scanners that finish, fail or hold on request.
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "tests/unit/im/ControlLoopFixture.h"

namespace KvoTest {
namespace {

using ControlLoopTest = ControlLoopFixture;

const char* const kFileRule =
    "<IntegrityRule id=\"7\" name=\"Watched\" identifier=\"1\" severity=\"2\" allowOnChange=\"false\">"
    "<FileSet base=\"/tmp\"><Include key=\"*.conf\"/><Attributes><STANDARD/></Attributes></FileSet>"
    "</IntegrityRule>";

TEST_F(ControlLoopTest, RunningLimitCapsScannersRunningAtOnce) {
    const long long cpus = wxThread::GetCPUCount() > 0 ? wxThread::GetCPUCount() : 1;
    const struct {
        const char* label;
        bool threadsPerCpu;
        int expectedMax;
        int holdMs;  // how long a scanner waits for the others to arrive
    } cases[] = {
        {"no ThreadsPerCpu: one at a time", false, 1, 500},
        {"2 per CPU", true, static_cast<int>(std::min<long long>(3, 2 * cpus)), 30000},
    };
    for (const auto& c : cases) {
        if (c.threadsPerCpu)
            m_dom->Set("zel.im.SystemIntegrity.ThreadsPerCpu", 2LL);
        else
            m_dom->SetNil("zel.im.SystemIntegrity.ThreadsPerCpu");
        const long long scanId = AddScanRow(0, 1000);
        for (const char* type : {"User", "Group", "Port"}) AddSubscanOf(scanId, type);
        m_scanners.maxRunning = 0;
        m_scanners.arrived = 0;
        // Under a kept limit of one the others never arrive; under a larger one all allowed do.
        m_scanners.holdUntilArrived = c.expectedMax == 1 ? 3 : c.expectedMax;
        m_scanners.holdMs = c.holdMs;
        auto control = NewControl();
        RunLoopUntil(*control, [&] { return ScanClosed(scanId); });
        EXPECT_EQ(c.expectedMax, m_scanners.maxRunning.load()) << c.label;
    }
}

TEST_F(ControlLoopTest, ScannerFailingSixTimesGivesEvent2001AndClosesTheScan) {
    m_scanners.finish = false;
    const long long scanId = AddScanRow(1, 1000);
    AddSubscanOf(scanId, "User");
    auto control = NewControl();
    RunLoopUntil(*control, [&] { return ScanClosed(scanId); });
    EXPECT_EQ(6, m_scanners.created.load()) << "the first run and five requeues";
    EXPECT_EQ(std::vector<std::string>{"2001|At least one integrity scan thread has failed 5 times in a row. "
                                       "Giving up on it and marking the integrity scan as completed."},
              EventsWithId(2001));
    EXPECT_GT(QueryNumber(wxString::Format("SELECT [endTime] FROM [Scans] WHERE [scanId]=%lld;", scanId)), 0);
    EXPECT_EQ(1u, EventsWithId(8002).size()) << "the incremental scan is reported as completed";
}

TEST_F(ControlLoopTest, LowDiskIsReportedOncePerMinimumAndHoldsScansBack) {
    m_dom->Set("zel.im.realtimeMode", true);  // the disk is watched even while idle
    m_dom->Set("zel.im.bNeedRebuildBaseline", true);
    const std::string db = m_dir.file("si.db");
    auto runWithMinimum = [this](int minimumMb, unsigned long long freeMb) {
        Configure(std::string("systemIntegrityFreeMbMin=\"") + std::to_string(minimumMb) + "\"", "");
        auto control = NewControl();
        control->SetDiskSpaceProbe([freeMb](const wxString&, unsigned long long& freeBytes) {
            freeBytes = freeMb << 20;
            return true;
        });
        RunLoop(*control, 3);
    };
    runWithMinimum(5, 4);
    EXPECT_EQ(std::vector<std::string>{"6012|" + db + "|4|5"}, EventsWithId(6012));
    EXPECT_EQ(1u, LogCount("Disk space is low - suspending integrity scanning temporarily. 4 MB are free and we "
                           "need a minimum of 5 MB."));
    EXPECT_EQ(0, QueryNumber("SELECT COUNT(*) FROM [Scans];")) << "no scan starts while the disk is low";
    EXPECT_TRUE(Flag("zel.im.bNeedRebuildBaseline"));

    runWithMinimum(5, 4);
    EXPECT_EQ(1u, EventsWithId(6012).size()) << "the same minimum is not reported again";

    runWithMinimum(6, 4);
    EXPECT_EQ((std::vector<std::string>{"6012|" + db + "|4|5", "6012|" + db + "|4|6"}), EventsWithId(6012));

    runWithMinimum(5, 5);
    EXPECT_EQ(2u, EventsWithId(6012).size()) << "exactly the minimum is enough";
    EXPECT_EQ(1, QueryNumber("SELECT COUNT(*) FROM [Scans] WHERE [incrementalScan]=0;"));
}

TEST_F(ControlLoopTest, RealtimeChangesStartTheirScannersAtStep250000) {
    m_db->ExecuteUpdate("INSERT INTO [RealtimeChanges] ([entityType],[keyCanonical]) VALUES ('User','u1'),"
                        "('User','u2'),('Group','g1');");
    m_db->ExecuteUpdate("INSERT INTO [ScanEntitySetIds] ([entityType],[entitySetId]) VALUES ('User',4);");
    m_dom->Set("zel.im.unittest.iterations", 1000000LL);
    auto control = NewControl();
    CLoopRunner runner(m_dom, *control);
    ASSERT_TRUE(runner.start());
    // Raised before the loop took its count, the condition would go unnoticed.
    ASSERT_TRUE(WaitUntil([this] { return ConditionCount("zel.im.configProcessed") > 0; }));
    // The real-time engine reports recorded changes through the condition.
    m_dom->ConditionRaise("zel.im.OnChangeDataAvailable");
    EXPECT_TRUE(WaitUntil([this] { return ScanClosed(2); }));
    runner.requestExit();
    runner.join();

    EXPECT_EQ((std::vector<int>{250000, 250000}), m_scanners.firstSteps);
    EXPECT_EQ((std::vector<wxString>{"User", "Group"}), m_scanners.types);
    EXPECT_EQ(std::vector<long long>{2},
              QueryNumbers("SELECT [incrementalScan] FROM [Scans] WHERE [scanId]=1 AND [endTime]>0;"));
    // Entity sets left waiting by real-time processing get an incremental scan next.
    EXPECT_EQ(std::vector<long long>{1},
              QueryNumbers("SELECT [incrementalScan] FROM [Scans] WHERE [scanId]=2 AND [endTime]>0;"));
    EXPECT_EQ(std::vector<long long>{2}, QueryNumbers("SELECT [scanId] FROM [ScanEntitySetIds];"));
    EXPECT_FALSE(Flag("zel.im.bOnChangeDataAvailable"));
}

// Outside unit-test mode the loop sleeps 15 s when idle; a scanner that ends
// must cut that sleep short.
TEST_F(ControlLoopTest, FinishedScannerWakesTheLoopAtOnce) {
    m_dom->Set("app.mode.unittest", false);
    const long long scanId = AddScanRow(0, 1000);
    AddSubscanOf(scanId, "User");
    m_scanners.waitForRelease = true;
    auto control = NewControl();
    CLoopRunner runner(m_dom, *control);
    ASSERT_TRUE(runner.start());
    ASSERT_TRUE(m_scanners.held.Wait());
    const long long completed = ConditionCount("zel.im.scanCompleted");
    m_scanners.release.Set();
    long long count = completed;
    // Half the idle sleep: a scan closed only after the sleep would miss it.
    const bool closed = m_dom->ConditionWait("zel.im.scanCompleted", completed, 7500, count);
    runner.requestExit();
    runner.join();
    EXPECT_TRUE(closed) << "the scan was not closed before the loop's idle sleep ended";
    EXPECT_GT(QueryNumber(wxString::Format("SELECT [endTime] FROM [Scans] WHERE [scanId]=%lld;", scanId)), 0);
}

TEST_F(ControlLoopTest, AbortedScanStopsScannersAndDropsWhatTheScanRecorded) {
    AddEntity(1, 7);
    AddEntity(2, 7);
    const long long scanId = AddScanRow(0, 1000, 0, 3);
    AddSubscanOf(scanId, "User");
    AddEntity(3, 7);
    AddEntity(4, 7);
    m_scanners.holdUntilStop = true;
    m_dom->Set("zel.im.unittest.iterations", 3LL);
    auto control = NewControl();
    CLoopRunner runner(m_dom, *control);
    ASSERT_TRUE(runner.start());
    ASSERT_TRUE(m_scanners.held.Wait());
    m_dom->ConditionRaise("zel.im.scanAborted");
    ASSERT_TRUE(WaitUntil([&runner] { return !runner.isRunning(); }));
    runner.join();
    EXPECT_EQ((std::vector<long long>{1, 2, 3}), QueryNumbers("SELECT [entityId] FROM [Entitys] ORDER BY 1;"));
    EXPECT_EQ(0, QueryNumber("SELECT COUNT(*) FROM [Scans];"));
    EXPECT_EQ(1, m_scanners.created.load()) << "the aborted scan is not resumed";
}

}  // namespace
}  // namespace KvoTest
