// GetEntities on a real si.db: what is delivered, in which order and form,
// what the caller's confirmation deletes, and when the query refuses. The plain
// listing, its fields and the refusal messages are checked in im_queries.lua.
#include <string>
#include <vector>

#include "plugins/im/Entity.h"
#include "tests/unit/im/QueriesTestSupport.h"

namespace {

using KvoPluginIm::CEntity;
using KvoPluginIm::CEntitys;
using KvoPluginIm::CSystemIntegrityThread;
using KvoTest::Columns;

class QueriesEntitiesTest : public KvoTest::QueriesFixture {
protected:
    std::unique_ptr<CEntitys> Get(long long lastId, int maxCount) {
        m_status = 0;
        m_message.clear();
        return As<CEntitys>(CSystemIntegrityThread::GetEntities(*m_dom, lastId, maxCount, m_status, m_message));
    }

    static std::vector<long long> Ids(const CEntitys& entities) {
        std::vector<long long> ids;
        for (const KvoCore::XMLObject* member : entities.Children())
            ids.push_back(static_cast<const CEntity*>(member)->GetId());
        return ids;
    }

    std::vector<long long> StoredIds() {
        std::vector<long long> ids;
        wxSQLite3ResultSet rows = m_db->ExecuteQuery("SELECT entityId FROM Entitys ORDER BY entityId;");
        while (rows.NextRow()) ids.push_back(rows.GetInt64(0).GetValue());
        return ids;
    }

    int m_status = 0;
    wxString m_message;
};

TEST_F(QueriesEntitiesTest, PagesAfterLastIdAndSkippedRowsDoNotUseUpMaxCount) {
    KvoCore::LogSetTraceCategories("zel.im.ImThread");
    for (const char* key : {"/a", "/b", "", "/d", "/e", "/f"}) AddEntity(key, {});

    std::unique_ptr<CEntitys> entities = Get(1, 3);
    ASSERT_NE(entities, nullptr);
    EXPECT_EQ((std::vector<long long>{2, 4, 5}), Ids(*entities));
    EXPECT_NE(LogText().find("GetEntities maxEntitiesToReturn 3 processed 4 rows out of 5 rows rowsSkipped 1"),
              std::string::npos)
        << LogText();
}

// Rows a scanner has not finished are neither delivered nor removed by a
// confirmation, unless they are superseded or deleted versions.
TEST_F(QueriesEntitiesTest, IncompleteRowsAreNeverDeliveredAndOnlyRetiredOnesAreConfirmedAway) {
    const struct {
        const char* what;
        Columns columns;
        bool deletedByConfirmation;
    } cases[] = {
        {"empty key, current", {{"key", ""}}, false},
        {"empty key, not seen yet (0)", {{"key", ""}, {"supercededBy", "0"}}, false},
        {"NULL key", {{"key", "NULL"}}, false},
        {"rule id 0", {{"integrityRuleId", "0"}}, false},
        {"NULL rule id", {{"integrityRuleId", "NULL"}}, false},
        {"empty attribute hash", {{"attributeHash", ""}}, false},
        {"NULL attribute hash", {{"attributeHash", "NULL"}}, false},
        {"empty key, superseded", {{"key", ""}, {"supercededBy", "9"}}, true},
        {"empty key, deleted", {{"key", ""}, {"supercededBy", "-1"}}, true},
        {"empty hash, deleted", {{"attributeHash", ""}, {"supercededBy", "-1"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_db->ExecuteUpdate("DELETE FROM Entitys;");
        const long long incomplete = AddEntity("/etc/incomplete", c.columns);
        const long long complete = AddEntity("/etc/complete");

        std::unique_ptr<CEntitys> entities = Get(0, 10);
        ASSERT_NE(entities, nullptr);
        EXPECT_EQ((std::vector<long long>{complete}), Ids(*entities)) << "never delivered";

        entities = Get(complete, 10);
        ASSERT_NE(entities, nullptr);
        EXPECT_TRUE(entities->empty());
        const std::vector<long long> stored = StoredIds();
        const bool kept = !stored.empty() && stored.front() == incomplete;
        EXPECT_EQ(!c.deletedByConfirmation, kept);
    }
}

TEST_F(QueriesEntitiesTest, ConfirmationDeletesSupersededAndDeletedVersionsUpToLastIdOnly) {
    const long long superseded = AddEntity("/a", {{"supercededBy", "3"}});
    AddEntity("/b", {{"supercededBy", "-1"}});  // a deleted entity
    const long long current = AddEntity("/a");
    const long long notSeenYet = AddEntity("/c", {{"supercededBy", "0"}});
    const long long laterSuperseded = AddEntity("/d", {{"supercededBy", "6"}});
    const long long laterCurrent = AddEntity("/d", {{"entityType", "User"}, {"integrityRuleId", "7"}});
    AddAttribute(superseded, "mode", "644");
    AddAttribute(current, "mode", "600");

    ASSERT_NE(Get(0, 1), nullptr);
    EXPECT_EQ(6u, StoredIds().size()) << "lastId 0 confirms nothing";
    std::unique_ptr<CEntitys> entities = Get(notSeenYet, 10);
    ASSERT_NE(entities, nullptr);
    EXPECT_EQ((std::vector<long long>{laterSuperseded, laterCurrent}), Ids(*entities));
    const auto& user = static_cast<const CEntity&>(*entities->Children()[1]);
    EXPECT_EQ("User", user.GetType());
    EXPECT_EQ(7, user.GetIntegrityRuleId());
    EXPECT_EQ((std::vector<long long>{current, notSeenYet, laterSuperseded, laterCurrent}), StoredIds());
    EXPECT_EQ(1, Count("SELECT COUNT(*) FROM Attributes;")) << "the deleted version's attributes went with it";
    EXPECT_EQ(3, Metric("entitiesSentToTzm"));
    EXPECT_EQ(2, Metric("entitiesDeleted"));
    EXPECT_EQ(-2, Metric("entitiesInTable"));
}

// Times are stored in the host's units; callers get milliseconds since 1970.
TEST_F(QueriesEntitiesTest, TimestampAttributesBecomeMillisecondsForTheProtectedPlatform) {
    const struct {
        bool windows;
        const char* name;
        const char* stored;
        const char* delivered;
    } cases[] = {
        {false, "created", "1000000", "1"}, {false, "lastAccessed", "-1", "-1"}, {false, "size", "1700000000123456789", "1700000000123456789"},
        {false, "lastModified", "yesterday", "yesterday"},
        // Only the three names, written exactly so, are times.
        {false, "lastmodified", "1700000000123456789", "1700000000123456789"}, {false, "Created", "1000000", "1000000"},
        {true, "lastModified", "133444736001230000", "1700000000123"}, {true, "created", "116444736000000000", "0"},
        {true, "lastAccessed", "116444736000010000", "1"}, {true, "mtime", "116444736000010000", "116444736000010000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.windows ? "Windows " : "Linux ") + c.name + "=" + c.stored);
        m_dom->Set("kvo.host.windows", c.windows);
        m_db->ExecuteUpdate("DELETE FROM Entitys;");
        const long long id = AddEntity("/etc/hosts");
        AddAttribute(id, c.name, c.stored, "friendly stays");

        std::unique_ptr<CEntitys> entities = Get(0, 1);
        ASSERT_NE(entities, nullptr);
        ASSERT_EQ(1u, entities->size());
        const auto& entity = static_cast<const CEntity&>(*entities->Children()[0]);
        ASSERT_EQ(1u, entity.GetAttributes().size());
        const auto& attribute =
            static_cast<const KvoPluginIm::CEntityAttribute&>(*entity.GetAttributes().Children()[0]);
        EXPECT_EQ(c.delivered, attribute.GetValue().utf8_string());
        EXPECT_EQ("friendly stays", attribute.GetFriendlyValue());
    }
}

TEST_F(QueriesEntitiesTest, AFailedConfirmationIsLoggedAndTheEntitiesStillCome) {
    AddEntity("/a", {{"supercededBy", "2"}});
    AddEntity("/a");
    AddEntity("/b");
    m_db->ExecuteUpdate(
        "CREATE TRIGGER KeepEntities BEFORE DELETE ON Entitys BEGIN SELECT RAISE(ABORT, 'entities kept'); END;");
    std::unique_ptr<CEntitys> entities = Get(2, 10);
    ASSERT_NE(entities, nullptr);
    EXPECT_EQ((std::vector<long long>{3}), Ids(*entities));
    EXPECT_EQ(3u, StoredIds().size());
    EXPECT_NE(LogText().find("GetEntities() error deleting already commited entities from si.db: "), std::string::npos)
        << LogText();
    EXPECT_EQ(0, Metric("entitiesDeleted"));
}

TEST_F(QueriesEntitiesTest, AMissingTableGivesNullAndIsLogged) {
    m_db->ExecuteUpdate("DROP TABLE Entitys;");
    EXPECT_EQ(nullptr, Get(0, 10));
    EXPECT_NE(LogText().find("GetEntities() error accessing si.db: "), std::string::npos);
    EXPECT_NE(LogText().find("GetEntities() error deleting already commited entities from si.db: "), std::string::npos);
}

}  // namespace
