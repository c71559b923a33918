// Every record class against the table or view it reads and writes, in a real
// si.db: the registered attributes must be the relation's columns, in order,
// with matching types and key, or rows are written to the wrong columns and
// loads silently skip values. Also the naming the plug-in's SQL relies on.
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/im/SqlRecordsTestSupport.h"

namespace {

using namespace KvoPluginIm;
using KvoCore::XMLObject;
using KvoCore::XMLObjectList;
using KvoTest::RecordClass;

struct Column {
    std::string name;
    std::string type;
    bool primaryKey;
};

std::vector<Column> TableInfo(wxSQLite3Database& db, const std::string& relation) {
    std::vector<Column> columns;
    wxSQLite3ResultSet rs = db.ExecuteQuery(wxString::Format("PRAGMA table_info([%s])", relation));
    while (rs.NextRow())
        columns.push_back({rs.GetAsString(wxT("name")).ToStdString(),
                           rs.GetAsString(wxT("type")).ToStdString(), rs.GetInt(wxT("pk")) != 0});
    return columns;
}

// Integer columns hold one of three member types; which one is fixed by the
// column's meaning: flags are bool, these few are 32-bit, every id and time is 64-bit.
const std::set<std::string> kInt32Columns = {"integrityRuleSeverity",
                                             "incrementalScan",
                                             "scanStep",
                                             "change",
                                             "caseSensitive",
                                             "timeout",
                                             "status",
                                             "severity",
                                             "type"};

std::string ExpectedType(const std::string& table, const std::string& column, const std::string& sqlType) {
    if (sqlType == "TEXT") return "string";
    if (sqlType == "BLOB") return "blob";
    if (column.rfind("monitor", 0) == 0 || column == "onChange" || column == "followLinks" ||
        column == "includeRemovable" || column == "exclude" || column == "allowOnChange" ||
        column == "confidential")
        return "bool";
    // Events and rules carry the rule id as the rule model's 32-bit id.
    if (column == "integrityRuleId" && (table == "IntegrityEvents" || table == "IntegrityRules"))
        return "int";
    return kInt32Columns.count(column) != 0 ? "int" : "int64";
}

std::string TypeName(XMLObject::AttributeType type) {
    switch (type) {
        case XMLObject::AttributeType::Bool:
            return "bool";
        case XMLObject::AttributeType::Int:
            return "int";
        case XMLObject::AttributeType::Int64:
            return "int64";
        case XMLObject::AttributeType::String:
            return "string";
        case XMLObject::AttributeType::Blob:
            return "blob";
    }
    return "?";
}

class SqlRecordColumns : public KvoTest::RecordDbFixture {};

TEST_F(SqlRecordColumns, EveryRecordRegistersItsRelationsColumnsInOrderWithTypesAndKey) {
    for (const RecordClass& record : KvoTest::AllRecordClasses()) {
        SCOPED_TRACE(record.relation);
        const std::vector<Column> columns = TableInfo(*m_db, record.relation);
        ASSERT_FALSE(columns.empty()) << "no such table or view";
        std::unique_ptr<XMLObject> object = record.make();

        std::vector<std::string> registered;
        std::vector<std::string> types;
        std::string key;
        object->EnumAttributes([&](const XMLObject::Attribute& attribute) {
            registered.push_back(attribute.name.ToStdString());
            types.push_back(TypeName(attribute.type));
            if (attribute.isKey) key = attribute.name.ToStdString();
            return true;
        });
        std::vector<std::string> names;
        std::vector<std::string> expectedTypes;
        std::string primaryKey;
        for (const Column& column : columns) {
            names.push_back(column.name);
            expectedTypes.push_back(ExpectedType(record.relation, column.name, column.type));
            if (column.primaryKey) primaryKey = column.name;
        }
        EXPECT_EQ(registered, names);
        EXPECT_EQ(types, expectedTypes);
        // Views have no primary key of their own; their records keep the key of
        // the class they extend, or none.
        EXPECT_EQ(key, record.isView ? record.viewKey : primaryKey);
    }
}

struct SetKind {
    std::string entityType;
    std::function<std::unique_ptr<CSqlEntitySet>()> make;
    std::string staticEntityType;
    bool hierarchical;
};

template <typename T>
SetKind Kind(const std::string& entityType, bool hierarchical) {
    return {entityType, [] { return std::make_unique<T>(); }, T::EntityType().ToStdString(), hierarchical};
}

}  // namespace
