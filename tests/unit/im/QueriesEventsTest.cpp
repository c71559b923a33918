// GetEvents on a real si.db: paging and window modes, the rule that no event
// comes before its entities, retention, refusal and errors. The event fields,
// the limit bounds and the basic cases are checked in im_queries.lua and
// im_query_bounds.lua; here times do not follow the ids.
#include <string>
#include <vector>

#include "plugins/im/IntegrityEvent.h"
#include "tests/unit/im/QueriesTestSupport.h"

namespace {

using KvoCore::XMLObjectList;
using KvoPluginIm::CIntegrityEvent;
using KvoPluginIm::CIntegrityEvents;
using KvoPluginIm::CSqlIntegrityEvent;
using KvoPluginIm::CSqlIntegrityEvents;
using KvoPluginIm::CSystemIntegrityThread;

struct Request {
    long long lastEventId = 0;
    long long maxEntityId = 0;
    long long recordedFrom = 0;
    long long recordedTo = 0;
    int limit = 100;
};

class QueriesEventsTest : public KvoTest::QueriesFixture {
protected:
    std::unique_ptr<XMLObjectList> Get(const Request& r) {
        m_status = 0;
        m_message.clear();
        return As<XMLObjectList>(CSystemIntegrityThread::GetEvents(*m_dom, r.lastEventId, r.maxEntityId, r.recordedFrom,
                                                                   r.recordedTo, r.limit, m_status, m_message));
    }

    static std::vector<long long> Ids(const XMLObjectList& events) {
        std::vector<long long> ids;
        for (const KvoCore::XMLObject* member : events.Children())
            ids.push_back(static_cast<const CIntegrityEvent*>(member)->GetIntegrityEventId());
        return ids;
    }

    static std::vector<long long> Range(long long first, long long last) {
        std::vector<long long> ids;
        for (long long id = first; id <= last; ++id) ids.push_back(id);
        return ids;
    }

    std::vector<long long> StoredIds() {
        std::vector<long long> ids;
        wxSQLite3ResultSet rows =
            m_db->ExecuteQuery("SELECT integrityEventId FROM IntegrityEvents ORDER BY integrityEventId;");
        while (rows.NextRow()) ids.push_back(rows.GetInt64(0).GetValue());
        return ids;
    }

    int m_status = 0;
    wxString m_message;
};

TEST_F(QueriesEventsTest, PagingModeReturnsTheEventModelAfterLastEventIdInIdOrder) {
    AddEvent({{"recorded", "5000"}});
    AddEvent({{"recorded", "4000"}, {"wasEntity", "1"}, {"isEntity", "NULL"}, {"change", "3"}});
    AddEvent({{"recorded", "3000"}, {"user", "root"}, {"process", "vi"}});

    std::unique_ptr<XMLObjectList> events = Get({1, 0, 0, 0, 100});
    ASSERT_NE(events, nullptr);
    EXPECT_NE(dynamic_cast<CIntegrityEvents*>(events.get()), nullptr);
    EXPECT_EQ((std::vector<long long>{2, 3}), Ids(*events));
    const KvoCore::XMLObject& deleted = *events->Children()[0];
    EXPECT_EQ(nullptr, dynamic_cast<const CSqlIntegrityEvent*>(&deleted)) << "only the event model's attributes";
    const auto& event = static_cast<const CIntegrityEvent&>(deleted);
    EXPECT_EQ(3, event.GetChange());
    EXPECT_EQ(1, event.GetWasEntity());
    EXPECT_NE(events->toString().Find("<IntegrityEvent integrityEventId=\"2\""), wxNOT_FOUND);
    EXPECT_EQ(wxNOT_FOUND, events->toString().Find("isEntity=\"0\"")) << "a NULL column stays absent";
    const auto& edited = static_cast<const CIntegrityEvent&>(*events->Children()[1]);
    EXPECT_EQ("root", edited.GetUser());
    EXPECT_EQ("vi", edited.GetProcess());

    events = Get({1, 0, 0, 0, -5});
    ASSERT_NE(events, nullptr);
    EXPECT_EQ((std::vector<long long>{2}), Ids(*events)) << "a negative limit serves one";
}

TEST_F(QueriesEventsTest, WindowModeReturnsTheNewestEventsByTimeInIdOrderWithEveryColumn) {
    // ids 1..6 with times that do not follow the ids; 4 and 5 share a time.
    for (const char* recorded : {"1000", "6000", "3000", "5000", "5000", "2000"}) AddEvent({{"recorded", recorded}});
    const struct {
        const char* what;
        Request request;
        std::vector<long long> expected;
    } cases[] = {
        {"from 1: newest 3 by time, ties by id", {0, 0, 1, 0, 3}, {2, 4, 5}},
        {"ties broken towards the higher id", {0, 0, 1, 0, 2}, {2, 5}},
        {"from bound inclusive", {0, 0, 3000, 0, 100}, {2, 3, 4, 5}},
        {"to bound inclusive", {0, 0, 0, 3000, 100}, {1, 3, 6}},
        {"both bounds", {0, 0, 2000, 5000, 100}, {3, 4, 5, 6}},
        {"after lastEventId", {4, 0, 1, 0, 100}, {5, 6}},
        {"after lastEventId, newest 1 by time", {3, 0, 1, 0, 1}, {5}},
        {"empty window", {0, 0, 7000, 0, 100}, {}},
        {"a negative limit serves one", {0, 0, 1, 0, -5}, {2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<XMLObjectList> events = Get(c.request);
        ASSERT_NE(events, nullptr);
        EXPECT_NE(dynamic_cast<CSqlIntegrityEvents*>(events.get()), nullptr);
        EXPECT_EQ(c.expected, Ids(*events));
    }
}

// An event never arrives before the entity versions it names: it and every
// later event wait, even those that name only older entities.
TEST_F(QueriesEventsTest, StopsAtTheFirstEventNamingAnEntityBeyondMaxEntityId) {
    AddEvent({{"isEntity", "4"}});
    AddEvent({{"isEntity", "10"}, {"wasEntity", "9"}});
    AddEvent({{"isEntity", "11"}});
    AddEvent({{"isEntity", "2"}});
    AddEvent({{"wasEntity", "12"}, {"isEntity", "NULL"}});
    AddEvent({{"isEntity", "3"}});
    const struct {
        const char* what;
        Request request;
        std::vector<long long> expected;
    } cases[] = {
        {"isEntity 11 > 10 stops", {0, 10, 0, 0, 100}, {1, 2}},
        {"wasEntity 12 > 11 stops", {0, 11, 0, 0, 100}, {1, 2, 3, 4}},
        {"first event already beyond", {0, 3, 0, 0, 100}, {}},
        {"window mode too", {0, 10, 1, 0, 100}, {1, 2}},
        {"from a later page", {3, 11, 0, 0, 100}, {4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<XMLObjectList> events = Get(c.request);
        ASSERT_NE(events, nullptr);
        EXPECT_EQ(c.expected, Ids(*events));
    }
}

TEST_F(QueriesEventsTest, RetentionKeepsTheNewestEventsTheCallerAlreadyHolds) {
    const struct {
        const char* what;
        long long retain;
        long long lastEventId;
        long long firstKept;
    } cases[] = {
        {"retain 0 deletes all the caller holds", 0, 100, 101},
        {"retain equal to lastEventId keeps all", 100, 100, 1},
        {"retain above lastEventId keeps all", 500, 100, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Ids are never reused; the test starts them at 1 again.
        m_db->ExecuteUpdate("DELETE FROM IntegrityEvents;");
        m_db->ExecuteUpdate("DELETE FROM sqlite_sequence WHERE name='IntegrityEvents';");
        AddEvents(120);
        m_dom->Set("zel.im.eventsToRetain", c.retain);

        std::unique_ptr<XMLObjectList> events = Get({c.lastEventId, 0, 0, 0, 5});
        ASSERT_NE(events, nullptr);
        EXPECT_EQ(Range(c.lastEventId + 1, c.lastEventId + 5), Ids(*events));
        EXPECT_EQ(Range(c.firstKept, 120), StoredIds());
    }
}

TEST_F(QueriesEventsTest, AFailedRetentionDeleteIsTracedAndTheEventsStillCome) {
    KvoCore::LogSetTraceCategories("zel.im.ImThread");
    AddEvents(20);
    m_db->ExecuteUpdate(
        "CREATE TRIGGER KeepEvents BEFORE DELETE ON IntegrityEvents BEGIN SELECT RAISE(ABORT, 'events kept'); END;");
    m_dom->Set("zel.im.eventsToRetain", 5LL);
    std::unique_ptr<XMLObjectList> events = Get({15, 0, 0, 0, 100});
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(Range(16, 20), Ids(*events));
    EXPECT_EQ(Range(1, 20), StoredIds());
    EXPECT_NE(LogText().find("GetEvents() error deleting old events from si.db: "), std::string::npos);
    EXPECT_EQ(0, m_status);
}

TEST_F(QueriesEventsTest, PagingIsRefusedWhileAScanRunsButAWindowIsServed) {
    AddEvents(3);
    m_dom->Set("zel.im.bScanRunning", true);
    m_dom->Set("zel.im.eventsToRetain", 0LL);
    m_status = 42;
    m_message.clear();
    EXPECT_EQ(nullptr, CSystemIntegrityThread::GetEvents(*m_dom, 2, 0, 0, 0, 10, m_status, m_message));
    EXPECT_EQ("Integrity scan in progress", m_message);
    EXPECT_EQ(42, m_status) << "status untouched";
    EXPECT_EQ(Range(1, 3), StoredIds()) << "a refusal deletes nothing";

    for (const Request& window : {Request{1, 0, 1, 0, 10}, Request{1, 0, 0, 5000, 10}}) {
        std::unique_ptr<XMLObjectList> events = Get(window);
        ASSERT_NE(events, nullptr);
        EXPECT_EQ((std::vector<long long>{2, 3}), Ids(*events));
    }
    m_dom->Set("zel.im.bBaselineScanRunning", true);
    m_dom->Set("zel.im.bScanRunning", false);
    EXPECT_NE(Get({0, 0, 0, 0, 10}), nullptr) << "only bScanRunning holds events back";
}

TEST_F(QueriesEventsTest, AMissingTableGivesStatus500AndAgentEvent3010) {
    m_db->ExecuteUpdate("DROP TABLE IntegrityEvents;");
    EXPECT_EQ(nullptr, Get({}));
    EXPECT_EQ(500, m_status);
    EXPECT_NE(m_message.Find("IntegrityEvents"), wxNOT_FOUND) << m_message;
    const std::string expected = "3010|GetEvents() error accessing si.db: " + m_message.utf8_string();
    EXPECT_NE(AgentEvents().find(expected), std::string::npos) << AgentEvents();
    EXPECT_NE(LogText().find("GetEvents() error accessing si.db: "), std::string::npos);
}

}  // namespace
