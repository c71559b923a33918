// Rows written and read back through the records in a real si.db: every value
// of every column survives insert, load and update; members never set are
// stored as NULL and load back with their NULL mark; the real-time queue's ids
// are never reused.
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
        values[attribute.name.Text().ToStdString()] =
            attribute.isNull ? std::string("NULL") : attribute.ToText().utf8_string();
        return true;
    });
    return values;
}

// Marks the members as holding values, so that they are written.
template <typename... Members>
void Given(XMLObject& record, const Members*... members) {
    (record.SetAttributeNull(members, false), ...);
}

class SqlRecordRoundTrip : public KvoTest::RecordDbFixture {};

TEST_F(SqlRecordRoundTrip, EveryColumnOfEveryTableSurvivesInsertAndLoad) {
    for (const RecordClass& record : KvoTest::AllRecordClasses()) {
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
    for (const RecordClass& record : KvoTest::AllRecordClasses()) {
        SCOPED_TRACE(record.relation);
        std::unique_ptr<XMLObject> written = record.make();
        ASSERT_TRUE(written->SQLInsert(*m_db));
        // No column but the key holds a value, not even the defaults of the
        // members (onChange true, timeout 5000).
        written->EnumAttributes([&](const XMLObject::Attribute& attribute) {
            if (attribute.isKey) return true;
            EXPECT_EQ(Scalar(*m_db, wxString::Format("SELECT COUNT(*) FROM [%s] WHERE [%s] IS NOT NULL",
                                                     record.relation, attribute.name.Text())),
                      0)
                << attribute.name.Text();
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

}  // namespace
