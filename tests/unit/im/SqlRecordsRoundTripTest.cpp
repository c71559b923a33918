// Rows written and read back through the records in a real si.db: every value
// of every column survives insert, load and update; members never set are
// stored as NULL and load back with their NULL mark; joined relations load into
// their records; the real-time queue's ids are never reused.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit/im/SqlRecordsTestSupport.h"

namespace {

using namespace KvoPluginIm;
using KvoCore::XMLObject;
using KvoCore::XMLObjectList;
using KvoTest::RecordClass;
using KvoTest::Scalar;
using KvoTest::Text;

// A distinct value for each column, one that only survives when the column's
// type and the member's type agree (64-bit values above 32 bits, non-ASCII text).
wxString ValueFor(XMLObject::AttributeType type, int index) {
    switch (type) {
        case XMLObject::AttributeType::Bool:
            return index % 2 == 0 ? wxT("true") : wxT("false");
        case XMLObject::AttributeType::Int:
            return wxString::Format(wxT("%d"), 1000 + index);
        case XMLObject::AttributeType::Int64:
            return wxString::Format(wxT("%lld"), 5000000000LL + index);
        case XMLObject::AttributeType::String:
            return wxString::Format(wxT("v%d-\u00e9\u4e2d"), index);
        case XMLObject::AttributeType::Blob:
            return wxString::Format(wxT("00ff%02x"), index);
    }
    return wxString();
}

void FillEveryColumnButTheKey(XMLObject& record, int seed) {
    std::vector<std::pair<wxString, wxString>> values;
    int index = seed;
    record.EnumAttributes([&](const XMLObject::Attribute& attribute) {
        if (!attribute.isKey) values.emplace_back(attribute.name, ValueFor(attribute.type, index++));
        return true;
    });
    for (const auto& value : values)
        ASSERT_TRUE(record.SetAttribute(value.first, value.second)) << value.first;
}

// name -> value text, or "NULL".
std::map<std::string, std::string> Snapshot(const XMLObject& record) {
    std::map<std::string, std::string> values;
    record.EnumAttributes([&](const XMLObject::Attribute& attribute) {
        values[attribute.name.ToStdString()] =
            attribute.isNull ? std::string("NULL") : attribute.ToText().utf8_string();
        return true;
    });
    return values;
}

std::vector<RecordClass> WritableClasses() {
    std::vector<RecordClass> writable;
    for (const RecordClass& record : KvoTest::AllRecordClasses())
        if (!record.isView) writable.push_back(record);
    return writable;
}

// Marks the members as holding values, so that they are written.
template <typename... Members>
void Given(XMLObject& record, const Members*... members) {
    (record.SetAttributeNull(members, false), ...);
}

class SqlRecordRoundTrip : public KvoTest::RecordDbFixture {};

TEST_F(SqlRecordRoundTrip, EveryColumnOfEveryTableSurvivesInsertAndLoad) {
    for (const RecordClass& record : WritableClasses()) {
        SCOPED_TRACE(record.relation);
        std::unique_ptr<XMLObject> written = record.make();
        FillEveryColumnButTheKey(*written, 1);
        ASSERT_TRUE(written->SQLInsert(*m_db));
        if (const XMLObject::Attribute* key = written->GetKeyAttribute()) {
            EXPECT_FALSE(key->isNull) << "the assigned id is stored in the key";
            EXPECT_EQ(key->ToText(), wxString::Format("%lld", m_db->GetLastRowId().GetValue()));
        }
        // Load through the list, which is how keyless tables are read.
        std::unique_ptr<XMLObjectList> list = record.makeList();
        ASSERT_TRUE(list->SQLLoad(*m_db));
        ASSERT_EQ(list->size(), 1u);
        EXPECT_EQ(Snapshot(*list->Children()[0]), Snapshot(*written));
    }
}

TEST_F(SqlRecordRoundTrip, UnsetMembersAreStoredAsNullAndLoadWithTheirNullMark) {
    for (const RecordClass& record : WritableClasses()) {
        SCOPED_TRACE(record.relation);
        std::unique_ptr<XMLObject> written = record.make();
        ASSERT_TRUE(written->SQLInsert(*m_db));
        // No column but the key holds a value, not even the defaults of the
        // members (onChange true, timeout 5000).
        written->EnumAttributes([&](const XMLObject::Attribute& attribute) {
            if (attribute.isKey) return true;
            EXPECT_EQ(Scalar(*m_db, wxString::Format("SELECT COUNT(*) FROM [%s] WHERE [%s] IS NOT NULL",
                                                     record.relation, attribute.name)),
                      0)
                << attribute.name;
            return true;
        });
        std::unique_ptr<XMLObjectList> list = record.makeList();
        ASSERT_TRUE(list->SQLLoad(*m_db));
        ASSERT_EQ(list->size(), 1u);
        list->Children()[0]->EnumAttributes([&](const XMLObject::Attribute& attribute) {
            EXPECT_EQ(attribute.isNull, !attribute.isKey) << attribute.name;
            return true;
        });
    }
}

// A scanner reloads one record object row after row: a NULL column must not
// keep the previous row's value.
TEST_F(SqlRecordRoundTrip, ANullColumnClearsTheValueOfThePreviousRow) {
    CSqlEntity current;
    current.m_keyCanonical = wxT("/etc/hosts");
    Given(current, &current.m_keyCanonical);
    ASSERT_TRUE(current.SQLInsert(*m_db));
    CSqlEntity replaced;
    replaced.m_keyCanonical = wxT("/etc/hosts");
    replaced.m_supercededBy = current.m_entityId;
    Given(replaced, &replaced.m_keyCanonical, &replaced.m_supercededBy);
    ASSERT_TRUE(replaced.SQLInsert(*m_db));

    CSqlEntity reader;
    wxSQLite3ResultSet rows = m_db->ExecuteQuery("SELECT * FROM [Entitys] ORDER BY [entityId] DESC");
    ASSERT_TRUE(rows.NextRow());
    ASSERT_TRUE(reader.SQLLoad(rows));
    EXPECT_EQ(reader.m_supercededBy, current.m_entityId);
    EXPECT_FALSE(reader.IsAttributeNull(&reader.m_supercededBy));
    ASSERT_TRUE(rows.NextRow());
    ASSERT_TRUE(reader.SQLLoad(rows));
    EXPECT_EQ(reader.m_entityId, current.m_entityId);
    EXPECT_TRUE(reader.IsAttributeNull(&reader.m_supercededBy)) << "the current version";
    EXPECT_EQ(reader.m_supercededBy, 0);
}

// Pruning reads sqlite_sequence, and consumers remember the last id taken:
// an id must not come back after its row was deleted.
TEST_F(SqlRecordRoundTrip, RealtimeChangeIdsAreAssignedAndNeverReused) {
    std::vector<long long> ids;
    for (const wxString key : {wxT("/a"), wxT("/b"), wxT("/c")}) {
        CSqlRealtimeChange change;
        change.m_entityType = wxT("File");
        change.m_keyCanonical = key;
        Given(change, &change.m_entityType, &change.m_keyCanonical);
        ASSERT_TRUE(change.SQLInsert(*m_db));
        ids.push_back(change.m_realtimeChangeId);
        if (key == wxT("/c")) {
            ASSERT_TRUE(change.SQLDelete(*m_db));
        }
    }
    EXPECT_EQ(ids, (std::vector<long long>{1, 2, 3}));
    CSqlRealtimeChange next;
    ASSERT_TRUE(next.SQLInsert(*m_db));
    EXPECT_EQ(next.m_realtimeChangeId, 4);
    EXPECT_EQ(Scalar(*m_db, "SELECT [seq] FROM sqlite_sequence WHERE [name]='RealtimeChanges'"), 4);
}

TEST_F(SqlRecordRoundTrip, EntityOwnsItsAttributeChildrenAndTheyLoadThroughTheJoin) {
    CSqlEntity entity;
    entity.m_entityType = wxT("File");
    entity.m_key = wxT("/etc/Hosts");
    entity.m_keyCanonical = wxT("/etc/Hosts");
    Given(entity, &entity.m_entityType, &entity.m_key, &entity.m_keyCanonical);
    ASSERT_TRUE(entity.SQLInsert(*m_db));
    const std::vector<std::pair<wxString, wxString>> values = {{wxT("size"), wxT("120")},
                                                               {wxT("owner"), wxT("root")}};
    for (const auto& value : values) {
        auto* attribute = new CSqlAttribute();
        attribute->m_entityId = entity.m_entityId;
        attribute->m_name = value.first;
        attribute->m_value = value.second;
        Given(*attribute, &attribute->m_entityId, &attribute->m_name, &attribute->m_value);
        entity.AppendAttribute(attribute);
    }
    ASSERT_EQ(entity.GetAttributes().size(), 2u);
    EXPECT_EQ(entity.GetAttributes().at(1).m_name, wxT("owner"));
    EXPECT_NE(entity.toString().Find(wxT("<Attributes>")), wxNOT_FOUND) << entity.toString();
    ASSERT_TRUE(entity.GetAttributes().SQLInsert(*m_db));
    EXPECT_EQ(Scalar(*m_db, "SELECT COUNT(*) FROM [Entitys]"), 1) << "children are rows of their own table";

    CSqlEntityAttributes joined;
    wxSQLite3ResultSet rows = m_db->ExecuteQuery("SELECT * FROM [EntityAttributes] ORDER BY [attributeId]");
    ASSERT_TRUE(joined.SQLLoad(rows));
    ASSERT_EQ(joined.size(), 2u);
    for (size_t i = 0; i < joined.size(); ++i) {
        const CSqlEntityAttribute& row = joined.at(i);
        EXPECT_EQ(row.m_entityId, entity.m_entityId);
        EXPECT_EQ(row.m_key, wxT("/etc/Hosts"));
        EXPECT_EQ(row.m_entityType, wxT("File"));
        EXPECT_TRUE(row.IsAttributeNull(&row.m_supercededBy));
        EXPECT_EQ(row.m_attributeId, entity.GetAttributes().at(i).m_attributeId);
        EXPECT_EQ(row.m_name, values[i].first);
        EXPECT_EQ(row.m_value, values[i].second);
        EXPECT_TRUE(row.IsAttributeNull(&row.m_friendlyValue));
    }
    // One row of the view, addressed by its entity key.
    CSqlEntityAttribute one;
    one.m_entityId = entity.m_entityId;
    one.SetAttributeNull(&one.m_entityId, false);
    ASSERT_TRUE(one.SQLLoad(*m_db));
    EXPECT_EQ(one.m_key, wxT("/etc/Hosts"));
    EXPECT_FALSE(one.IsAttributeNull(&one.m_attributeId));
}

TEST_F(SqlRecordRoundTrip, RealtimeChangeDetailsJoinChangeAndDetailColumns) {
    CSqlRealtimeChange change;
    change.m_entityType = wxT("File");
    change.m_keyCanonical = wxT("/srv/new");
    change.m_entitySetIds = wxT("3,7");
    Given(change, &change.m_entityType, &change.m_keyCanonical, &change.m_entitySetIds);
    ASSERT_TRUE(change.SQLInsert(*m_db));
    CSqlChangeDetails details;
    for (int kind : {4, 2}) {
        auto* detail = new CSqlChangeDetail();
        detail->m_realtimeChangeId = change.m_realtimeChangeId;
        detail->m_change = kind;
        detail->m_whenChangedFirst = 1700000000000LL + kind;
        detail->m_user = wxT("alice");
        Given(*detail, &detail->m_realtimeChangeId, &detail->m_change, &detail->m_whenChangedFirst, &detail->m_user);
        if (kind == 4) {
            detail->m_keyCanonicalOld = wxT("/srv/old");
            Given(*detail, &detail->m_keyCanonicalOld);
        }
        details.Append(detail);
    }
    ASSERT_TRUE(details.SQLInsert(*m_db));

    CSqlRealtimeChangeDetails joined;
    wxSQLite3ResultSet rows =
        m_db->ExecuteQuery("SELECT * FROM [RealtimeChangeDetails] ORDER BY [change] DESC");
    ASSERT_TRUE(joined.SQLLoad(rows));
    ASSERT_EQ(joined.size(), 2u);
    const CSqlRealtimeChangeDetail& rename = joined.at(0);
    EXPECT_EQ(rename.m_realtimeChangeId, change.m_realtimeChangeId);
    EXPECT_EQ(rename.m_keyCanonical, wxT("/srv/new"));
    EXPECT_EQ(rename.m_entitySetIds, wxT("3,7"));
    EXPECT_EQ(rename.m_change, 4);
    EXPECT_EQ(rename.m_whenChangedFirst, 1700000000004LL);
    EXPECT_EQ(rename.m_keyCanonicalOld, wxT("/srv/old"));
    EXPECT_EQ(rename.m_user, wxT("alice"));
    EXPECT_TRUE(rename.IsAttributeNull(&rename.m_process));
    EXPECT_EQ(joined.at(1).m_change, 2);
    EXPECT_TRUE(joined.at(1).IsAttributeNull(&joined.at(1).m_keyCanonicalOld));
}

}  // namespace
