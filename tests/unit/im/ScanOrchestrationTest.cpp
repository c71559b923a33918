// Scan orchestration on the control thread's connection: which rows a scan
// initiation writes for each scan type, which scanners it queues, and how an
// interrupted scan is taken back out of the database; and what the agent is
// told when a scan completes (event per scan type, duration, changes).
#include "tests/unit/im/ControlLoopFixture.h"

namespace KvoTest {
namespace {

class ScanOrchestrationTest : public ControlLoopFixture {
protected:
    void SetUp() override {
        ControlLoopFixture::SetUp();
        if (HasFatalFailure()) return;
        m_control = NewControl();
        ASSERT_TRUE(m_control->OpenSystemIntegrityDb());
    }
    void TearDown() override {
        if (m_control) m_control->OnExit();  // deletes the scanners it queued
        m_control.reset();
        ControlLoopFixture::TearDown();
    }

    std::vector<std::string> SubscanTypes(long long scanId) {
        return Column(*m_db, wxString::Format(
            "SELECT [entityType] FROM [Subscans] WHERE [scanId]=%lld ORDER BY [subscanId];", scanId));
    }

    // A closed scan whose entity ids lie strictly between from and to.
    long long AddClosedScan(int type, long long durationMs, long long from = 1, long long to = 2) {
        const long long scanId = AddScanRow(type, 1000000, 1000000 + durationMs, from);
        m_db->ExecuteUpdate(wxString::Format(
            "UPDATE [Scans] SET [endingHighestExistingEntityId]=%lld WHERE [scanId]=%lld;", to, scanId));
        return scanId;
    }

    long long Complete(long long scanId) {
        long long duration = -1;
        m_control->GenerateScanCompletedEvent(scanId, duration);
        return duration;
    }

    std::unique_ptr<CSystemIntegrityThread> m_control;
};

TEST_F(ScanOrchestrationTest, BaselineHasOneSubscanPerEntityTypeWithSets) {
    AddEntity(41, 1);
    AddEntitySet("UserSets", 1);
    AddEntitySet("FileSets", 1);
    AddEntitySet("FileSets", 2);
    m_dom->Set("zel.im.bNeedRebuildBaseline", true);
    m_dom->Set("zel.im.bNeedIncrementalScan", true);
    m_control->InitiateScan();

    EXPECT_EQ((std::vector<long long>{0}), QueryNumbers("SELECT [incrementalScan] FROM [Scans];"));
    EXPECT_EQ(42, QueryNumber("SELECT [startingHighestExistingEntityId] FROM [Scans] WHERE [scanId]=1;"))
        << "the id the next entity row gets";
    EXPECT_EQ(-1, QueryNumber("SELECT [endTime] FROM [Scans] WHERE [scanId]=1;")) << "the scan is open";
    EXPECT_EQ((std::vector<std::string>{"File", "User"}), SubscanTypes(1)) << "in the schema's table order";
    EXPECT_EQ(0, QueryNumber("SELECT COUNT(*) FROM [Subscans] WHERE [scanStep]<>0 OR [startTime] NOT NULL;"));
    EXPECT_EQ(2u, m_control->QueuedScannerCount());
    EXPECT_EQ(0, QueryNumber("SELECT COUNT(*) FROM [Entitys] WHERE [entityType] LIKE '-Scan%';"));
    EXPECT_EQ(1, ConditionCount("zel.im.scanInitiated"));
    EXPECT_FALSE(Flag("zel.im.bNeedRebuildBaseline"));
    EXPECT_FALSE(Flag("zel.im.bNeedIncrementalScan")) << "a baseline covers the incremental need";
    EXPECT_TRUE(Events().empty()) << "nothing is reported before the scan ends";
}

TEST_F(ScanOrchestrationTest, ScanWithNothingInScopeEndsAtOnce) {
    const struct {
        const char* flag;
        int type;
        std::vector<std::string> events;
        long long completed;
    } cases[] = {
        {"zel.im.bNeedRebuildBaseline", 0, {"8000|00:00|0"}, 1},
        {"zel.im.bNeedIncrementalScan", 1, {"8002|00:00|0"}, 1},
        {"zel.im.bOnChangeDataAvailable", 2, {}, 0},
    };
    for (const auto& c : cases) {
        m_db->ExecuteUpdate("DELETE FROM [Scans];");
        const long long completed = ConditionCount("zel.im.scanCompleted");
        const size_t events = Events().size();
        m_dom->Set(c.flag, true);
        m_control->InitiateScan();
        EXPECT_EQ(std::vector<long long>{c.type},
                  QueryNumbers("SELECT [incrementalScan] FROM [Scans] WHERE [endTime]>0 AND "
                               "[endingHighestExistingEntityId]>0;"))
            << c.flag;
        const std::vector<std::string> all = Events();
        EXPECT_EQ(c.events, std::vector<std::string>(all.begin() + events, all.end())) << c.flag;
        EXPECT_EQ(completed + c.completed, ConditionCount("zel.im.scanCompleted")) << c.flag;
        EXPECT_FALSE(Flag(c.flag));
    }
    EXPECT_EQ(0, QueryNumber("SELECT COUNT(*) FROM [Entitys];")) << "no marker stays behind";
}

TEST_F(ScanOrchestrationTest, PseudoRealtimeScanLeavesFilesDirectoriesAndProcessesToRealtime) {
    AddRuleRow(1, "Everything", true);
    AddRuleRow(2, "Not on change", false);
    for (const char* table : {"DirectorySets", "FileSets", "ProcessSets", "UserSets", "PortSets"})
        AddEntitySet(table, 1);
    AddEntitySet("GroupSets", 1, false);
    m_dom->Set("zel.im.bNeedPseudoRealtimeScan", true);
    m_control->InitiateScan();
    EXPECT_EQ((std::vector<std::string>{"Port", "User"}), SubscanTypes(1));
    EXPECT_EQ(std::vector<long long>{1}, QueryNumbers("SELECT [integrityRuleId] FROM [ScanIntegrityRuleIds] "
                                                      "WHERE [scanId]=1;"));
    EXPECT_EQ(2, m_control->PseudoRealtimeGate());
    EXPECT_EQ(-1, QueryNumber("SELECT [endTime] FROM [Scans] WHERE [scanId]=1;"));
}

TEST_F(ScanOrchestrationTest, RealtimeScanHasOneSubscanPerChangedEntityType) {
    m_db->ExecuteUpdate("INSERT INTO [RealtimeChanges] ([entityType],[keyCanonical]) VALUES ('User','a'),"
                        "('Group','b'),('User','c');");
    AddEntitySet("FileSets", 1);
    m_dom->Set("zel.im.bOnChangeDataAvailable", true);
    m_control->InitiateScan();
    EXPECT_EQ(std::vector<long long>{2}, QueryNumbers("SELECT [incrementalScan] FROM [Scans];"));
    std::vector<std::string> types = SubscanTypes(1);
    std::sort(types.begin(), types.end());
    EXPECT_EQ((std::vector<std::string>{"Group", "User"}), types);
    EXPECT_FALSE(Flag("zel.im.bOnChangeDataAvailable"));
}

TEST_F(ScanOrchestrationTest, QueuedScannerGetsTheHighestEntityIdOfItsStart) {
    AddEntity(10, 1);
    const long long scanId = AddScanRow(0, 1000);
    AddSubscanOf(scanId, "User", 200000);
    AddSubscanOf(AddScanRow(0, 1000, 2000), "Group");  // its scan is closed
    EXPECT_EQ(1, m_control->QueueIncompleteScanners());
    EXPECT_EQ(std::vector<wxString>{"User"}, m_scanners.types);
    EXPECT_EQ(std::vector<int>{0}, m_scanners.handedSteps);
    // The queued scanner's start marker took 11; ids are never handed out twice.
    EXPECT_EQ(12, m_control->GetCurrentHighestEntityId());
    EXPECT_EQ(std::vector<long long>{10}, QueryNumbers("SELECT [entityId] FROM [Entitys];"));
}

TEST_F(ScanOrchestrationTest, IncompleteScanDataIsDeleted) {
    const long long closed = AddScanRow(0, 1000, 2000, 1);
    for (long long id = 1; id <= 6; ++id) AddEntity(id, 1);
    AddScanRow(1, 3000, 0, 4);
    m_db->ExecuteUpdate("INSERT INTO [IntegrityEvents] ([integrityEventId],[wasEntity],[isEntity]) "
                        "VALUES (1,NULL,5),(2,3,6),(3,6,NULL),(4,9,NULL);");
    m_control->DeleteIncompleteScanData();
    EXPECT_EQ((std::vector<long long>{1, 2, 3, 4}), QueryNumbers("SELECT [entityId] FROM [Entitys] ORDER BY 1;"));
    EXPECT_EQ((std::vector<long long>{1, 2}),
              QueryNumbers("SELECT [integrityEventId] FROM [IntegrityEvents] ORDER BY 1;"))
        << "events whose previous entity is gone go with it";
    EXPECT_EQ(std::vector<long long>{closed}, QueryNumbers("SELECT [scanId] FROM [Scans];"));
}

TEST_F(ScanOrchestrationTest, IncompleteScanDataRollsBackOnDatabaseError) {
    AddEntity(1, 1);
    AddEntity(2, 1);
    AddScanRow(0, 1000, 0, 1);
    m_db->ExecuteUpdate("ALTER TABLE [IntegrityEvents] RENAME TO [Elsewhere];");
    m_control->DeleteIncompleteScanData();
    EXPECT_EQ(2, QueryNumber("SELECT COUNT(*) FROM [Entitys];")) << "the entity delete was rolled back";
    EXPECT_EQ(1, QueryNumber("SELECT COUNT(*) FROM [Scans];"));
    EXPECT_EQ(1u, LogCount("Accessing si.db: "));
}

// --- what the agent is told when a scan completes ---

TEST_F(ScanOrchestrationTest, ChangesAreNewRowsAndDeletionsLessDroppedEvents) {
    // Scan 7: entities 101..220 recorded, three of them without an event, five entities found deleted.
    for (int scan = 1; scan <= 6; ++scan) AddScanRow(0, 1000, 2000);
    const long long scanId = AddClosedScan(1, 5000, 100, 221);
    ASSERT_EQ(7, scanId);
    for (long long id = 1; id <= 230; ++id) AddEntity(id, 1, id == 101 || id == 150 || id == 220);
    AddEntity(231, 1, true);  // dropped, but after the scan
    const long long subscan = AddSubscanOf(scanId, "User");
    AddSubscanOf(scanId, "Group");
    m_db->ExecuteUpdate(
        wxString::Format("UPDATE [Subscans] SET [numEntitiesDeleted]=5 WHERE [subscanId]=%lld;", subscan));
    Complete(scanId);
    EXPECT_EQ(std::vector<std::string>{"8002|5 seconds|122"}, EventsWithId(8002));
    EXPECT_EQ(1, ConditionCount("zel.im.scanCompleted"));
    EXPECT_EQ(1, ConditionCount("kvo.HeartbeatNow"));
}

TEST_F(ScanOrchestrationTest, BaselineNamesTheRulesItFoundNothingFor) {
    AddRuleRow(1, "Has entities", false);
    AddRuleRow(2, "Empty | piped", false);
    AddRuleRow(3, "Also empty", false);
    AddEntity(1, 1);
    const long long full = AddClosedScan(0, 3000, 1, 2);
    Complete(full);
    EXPECT_EQ((std::vector<std::string>{"8015|2|Empty \u00a6 piped", "8015|3|Also empty", "8000|3 seconds|0"}),
              Events());

    // Limited to rules 1 and 3: only rule 3 is named, and the event says the scan was limited.
    const long long limited = AddClosedScan(0, 3000, 1, 2);
    m_db->ExecuteUpdate(wxString::Format(
        "INSERT INTO [ScanIntegrityRuleIds] ([scanId],[integrityRuleId]) VALUES (%lld,1),(%lld,3);", limited,
        limited));
    Complete(limited);
    const std::vector<std::string> all = Events();
    EXPECT_EQ((std::vector<std::string>{"8015|3|Also empty", "8001|3 seconds|0"}),
              std::vector<std::string>(all.begin() + 3, all.end()));
    EXPECT_EQ(2, ConditionCount("zel.im.scanCompleted"));
}

}  // namespace
}  // namespace KvoTest
