// GetStatus on a real si.db (pending requests, the open scan, the highest
// entity id, VM-safe guests) and the heartbeat that gates the entity purge of
// event mode 2, with the tick supplied by the test. The pending bits, a
// real-time scan and the fields as scripts get them are checked in
// im_queries.lua and im_query_bounds.lua.
#include <string>

#include "plugins/im/ImScanStatus.h"
#include "tests/unit/im/QueriesTestSupport.h"

namespace {

using KvoCore::CScanStatus;
using KvoPluginIm::CImScanStatus;
using KvoPluginIm::CSystemIntegrityThread;

class QueriesStatusTest : public KvoTest::QueriesFixture {
protected:
    std::unique_ptr<CImScanStatus> Status() {
        std::unique_ptr<CImScanStatus> status = As<CImScanStatus>(CSystemIntegrityThread::GetStatus(*m_dom));
        EXPECT_NE(status, nullptr);
        return status;
    }
};

// Only a true bool counts: an absent key or one of another type is false.
TEST_F(QueriesStatusTest, PendingScanBitmaskIgnoresFlagsThatAreNotTrueBools) {
    for (const char* flag : {"zel.im.bNeedRebuildBaseline", "zel.im.bRulesChanged", "zel.im.bNeedIncrementalScan",
                             "zel.im.bOnChangeDataAvailable", "zel.im.bNeedPseudoRealtimeScan"})
        m_dom->SetNil(flag);
    m_dom->Set("zel.im.bNeedIncrementalScan", 1LL);
    m_dom->Set("zel.im.bNeedPseudoRealtimeScan", "true");
    EXPECT_EQ(0, Status()->GetPendingScanBitmask());
}

TEST_F(QueriesStatusTest, TheOpenScanGivesTypeStatusAndInteractivity) {
    const struct {
        const char* what;
        int storedKind;  // -1: no open scan
        int imScanType;
        int status;
        int interactive;
    } cases[] = {
        {"no open scan", -1, 0, CScanStatus::Idle, 1},
        {"baseline", 0, 1, CScanStatus::InProgress, 1},
        {"incremental", 1, 2, CScanStatus::InProgress, 1},
        {"pseudo-real-time", 3, 4, CScanStatus::InProgress, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_db->ExecuteUpdate("DELETE FROM Scans;");
        AddScan(1, true);  // ended scans do not count
        if (c.storedKind >= 0) AddScan(c.storedKind);
        std::unique_ptr<CImScanStatus> status = Status();
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(c.imScanType, status->GetImScanType());
        EXPECT_EQ(c.status, status->GetStatus());
        EXPECT_EQ(c.interactive, status->GetInteractive());
        EXPECT_FALSE(status->GetScanError());
    }
    // A row not started yet is no open scan.
    m_db->ExecuteUpdate("DELETE FROM Scans;");
    m_db->ExecuteUpdate("INSERT INTO Scans(incrementalScan) VALUES(2);");
    EXPECT_EQ(0, Status()->GetImScanType());
}

TEST_F(QueriesStatusTest, VmSafeGuestReadsNoEntityIdButStillReportsTheScan) {
    AddEntity("/a");
    AddEntity("/b");
    const long long scan = AddScan(2);
    AddSubscan(scan, true);
    m_dom->Set("kvo.mode.vmsafeGuest", true);
    std::unique_ptr<CImScanStatus> status = Status();
    EXPECT_EQ(0, status->GetHighestEntityId());
    EXPECT_EQ(3, status->GetImScanType());
    EXPECT_EQ(CScanStatus::InProgress, status->GetStatus());
    EXPECT_EQ(0, status->GetInteractive());

    m_dom->Set("kvo.mode.vmsafeGuest", false);
    EXPECT_EQ(2, Status()->GetHighestEntityId());
}

TEST_F(QueriesStatusTest, EventModeIsReportedAndOnlyModeTwoCountsTheHeartbeatUpToThree) {
    UseEventMode(1);
    CSystemIntegrityThread::s_DenormalizedHeartbeat = 0;
    EXPECT_EQ(1, Status()->GetEventMode());
    EXPECT_EQ(0, CSystemIntegrityThread::s_DenormalizedHeartbeat);

    UseEventMode(2);
    KvoCore::LogSetTraceCategories("zel.im.ImThread");
    for (int expected : {1, 2, 3, 3, 3}) {
        EXPECT_EQ(2, Status()->GetEventMode());
        EXPECT_EQ(expected, CSystemIntegrityThread::s_DenormalizedHeartbeat);
    }
    EXPECT_NE(LogText().find("Incremented s_DenormalizedHeartbeat to 3"), std::string::npos);
    EXPECT_EQ(std::string::npos, LogText().find("Incremented s_DenormalizedHeartbeat to 4"));
}

// The only test that calls the purge in event mode 2: its first call since the
// module was loaded is the one that arms it.
TEST_F(QueriesStatusTest, PurgeInEventModeTwoWaitsForThreeStatusCallsThenRunsAtMostOnceAMinute) {
    ASSERT_TRUE(m_thread->OpenSystemIntegrityDb());
    const auto retired = [this] {
        return Count("SELECT COUNT(*) FROM Entitys WHERE supercededBy=-1 OR supercededBy>0;");
    };
    const auto addRetired = [this] {
        AddEntity("/old", {{"supercededBy", "-1"}});
        AddEntity("/older", {{"supercededBy", "1"}});
    };
    addRetired();
    AddEntity("/current");
    AddEntity("/unseen", {{"supercededBy", "0"}});

    UseEventMode(1);
    m_thread->purgeEntitiesInDenormalizedMode(1000000);
    EXPECT_EQ(2, retired()) << "never outside event mode 2";

    UseEventMode(2);
    CSystemIntegrityThread::s_DenormalizedHeartbeat = 3;
    m_thread->purgeEntitiesInDenormalizedMode(1000000);
    EXPECT_EQ(2, retired()) << "the first call only resets the heartbeat";
    EXPECT_EQ(0, CSystemIntegrityThread::s_DenormalizedHeartbeat);

    for (int call = 1; call <= 3; ++call) {
        m_thread->purgeEntitiesInDenormalizedMode(1000000 + call);
        EXPECT_EQ(2, retired()) << "after " << call - 1 << " status calls";
        Status();
    }
    const unsigned int first = 2000000;
    m_thread->purgeEntitiesInDenormalizedMode(first);
    EXPECT_EQ(0, retired());
    EXPECT_EQ(2, Count("SELECT COUNT(*) FROM Entitys;")) << "current versions stay";
    EXPECT_EQ(2, Metric("entitiesDeleted"));

    const struct {
        unsigned int after;
        bool purges;
    } intervals[] = {{0, false}, {59999, false}, {60000, true}, {1, false}, {59999, false}, {120000, true}};
    unsigned int lastPurge = first;
    for (const auto& interval : intervals) {
        SCOPED_TRACE(interval.after);
        addRetired();
        m_thread->purgeEntitiesInDenormalizedMode(lastPurge + interval.after);
        EXPECT_EQ(interval.purges ? 0 : 2, retired());
        if (interval.purges)
            lastPurge += interval.after;
        else
            m_db->ExecuteUpdate("DELETE FROM Entitys WHERE supercededBy=-1 OR supercededBy>0;");
    }
    // The tick wraps at 32 bits; the difference still counts.
    addRetired();
    m_thread->purgeEntitiesInDenormalizedMode(lastPurge + 60000u);
    EXPECT_EQ(0, retired());
    addRetired();
    const unsigned int nearWrap = 0xFFFFFFF0u;
    m_thread->purgeEntitiesInDenormalizedMode(nearWrap);
    EXPECT_EQ(0, retired());
    addRetired();
    m_thread->purgeEntitiesInDenormalizedMode(nearWrap + 59999u);
    EXPECT_EQ(2, retired()) << "59999 ms across the wrap is too soon";
    m_thread->purgeEntitiesInDenormalizedMode(nearWrap + 60000u);
    EXPECT_EQ(0, retired());

    m_thread->CloseSystemIntegrityDb();
    m_thread->purgeEntitiesInDenormalizedMode(nearWrap + 120000u);
    EXPECT_NE(LogText().find("purgeEntitiesInDenormalizedMode() error deleting redundant entities from si.db: "),
              std::string::npos);
}

}  // namespace
