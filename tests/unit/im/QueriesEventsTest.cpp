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
