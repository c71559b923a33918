// What the agent is told when a scan completes: the event per scan type, the
// duration text, the number of changes, and the rules a baseline found nothing for.
#include "tests/unit/im/ControlLoopFixture.h"
#include "tests/unit/im/GroupingLocale.h"

namespace KvoTest {
namespace {

class ScanCompletedEventTest : public ControlLoopFixture {
protected:
    void SetUp() override {
        ControlLoopFixture::SetUp();
        if (HasFatalFailure()) return;
        m_control = NewControl();
        ASSERT_TRUE(m_control->OpenSystemIntegrityDb());
    }
    void TearDown() override {
        m_control.reset();
        ControlLoopFixture::TearDown();
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

TEST_F(ScanCompletedEventTest, DurationIsWholeSecondsAtLeastOne) {
    const struct {
        long long durationMs;
        const char* text;
    } cases[] = {
        {0, "1 seconds"}, {400, "1 seconds"}, {1999, "1 seconds"}, {2000, "2 seconds"}, {59999, "59 seconds"},
    };
    for (const auto& c : cases) {
        const long long scanId = AddClosedScan(1, c.durationMs);
        EXPECT_EQ(c.durationMs, Complete(scanId));
        EXPECT_EQ(std::string("8002|") + c.text + "|0", EventsWithId(8002).back()) << c.durationMs << " ms";
    }
}

TEST_F(ScanCompletedEventTest, DurationIsGroupedAsTheLocaleGroupsThousands) {
    const long long scanId = AddClosedScan(1, 1234567);
    {
        GroupingLocale locale;
        ASSERT_TRUE(locale.ok()) << GroupingLocale::Requirement();
        Complete(scanId);
    }
    EXPECT_EQ(std::vector<std::string>{"8002|1,234 seconds|0"}, EventsWithId(8002));
}

TEST_F(ScanCompletedEventTest, ChangesAreNewRowsAndDeletionsLessDroppedEvents) {
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

TEST_F(ScanCompletedEventTest, BaselineNamesTheRulesItFoundNothingFor) {
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

TEST_F(ScanCompletedEventTest, RealtimeAndPseudoRealtimeScansAreNotReported) {
    for (int type : {2, 3}) {
        const long long scanId = AddClosedScan(type, 2500);
        EXPECT_EQ(2500, Complete(scanId)) << "type " << type;
    }
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(0, ConditionCount("zel.im.scanCompleted"));
}

}  // namespace
}  // namespace KvoTest
