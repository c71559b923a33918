// The two records built on the rule model: a configured rule stored under its
// own id, and an event row whose unset columns stay NULL.
#include <memory>
#include <string>

#include "tests/unit/im/SqlRecordsTestSupport.h"

namespace {

using namespace KvoPluginIm;
using KvoTest::Column;
using KvoTest::Scalar;
using KvoTest::Text;

class SqlRuleAndEventRecords : public KvoTest::RecordDbFixture {};

TEST_F(SqlRuleAndEventRecords, ParsedRuleIsStoredUnderItsConfiguredId) {
    CIntegrityRule rule;
    wxString error;
    ASSERT_TRUE(rule.FromXML(
        wxString(wxT("<IntegrityRule id=\"1002\" name=\"System \u00e9tc\" allowOnChange=\"true\" "
                     "hash=\"ab12\" identifier=\"R-7\" severity=\"3\" type=\"2\">"
                     "<FileSet base=\"/etc\"/></IntegrityRule>")),
        &error))
        << error;
    CSqlIntegrityRule row;
    ASSERT_TRUE(row.AssignFrom(rule));
    ASSERT_TRUE(row.SQLInsert(*m_db));
    EXPECT_EQ(row.GetId(), 1002);
    EXPECT_EQ(Scalar(*m_db, "SELECT [integrityRuleId] FROM [IntegrityRules]"), 1002);
    EXPECT_EQ(Scalar(*m_db, "SELECT COUNT(*) FROM [IntegrityRules] WHERE [confidential]=0"), 1)
        << "an attribute left at its default is a value, not NULL";

    CSqlIntegrityRules stored;
    ASSERT_TRUE(stored.SQLLoad(*m_db));
    ASSERT_EQ(stored.size(), 1u);
    const CSqlIntegrityRule& loaded = stored.at(0);
    EXPECT_EQ(loaded.GetId(), 1002);
    EXPECT_EQ(loaded.GetName(), wxT("System \u00e9tc"));
    EXPECT_TRUE(loaded.GetAllowOnChange());
    EXPECT_FALSE(loaded.GetConfidential());
    EXPECT_EQ(loaded.GetHash(), wxT("ab12"));
    EXPECT_EQ(loaded.GetIdentifier(), wxT("R-7"));
    EXPECT_EQ(loaded.GetSeverity(), 3);
    EXPECT_EQ(loaded.GetType(), 2);
    EXPECT_TRUE(loaded.GetFileSets().empty()) << "sets are rows of their own tables";

    // A changed rule is written again under the same key.
    CSqlIntegrityRule changed;
    ASSERT_TRUE(changed.AssignFrom(rule));
    changed.SetName(wxT("renamed"));
    EXPECT_TRUE(changed.SQLUpdate(*m_db));
    EXPECT_EQ(Text(*m_db, "SELECT [name] FROM [IntegrityRules] WHERE [integrityRuleId]=1002"), "renamed");
}

TEST_F(SqlRuleAndEventRecords, EventColumnsSetThroughTheRecordAreWrittenTheRestStayNull) {
    CSqlIntegrityEvent event;
    event.SetRecorded(1700000000123LL);
    event.SetStatus(-1);
    event.SetIntegrityRuleId(1002);
    event.SetChange(3);
    event.SetWasEntity(5000000001LL);
    event.SetEntityType(wxT("File"));
    event.SetKey(wxT("/etc/gone"));
    ASSERT_TRUE(event.SQLInsert(*m_db));
    EXPECT_GT(event.GetIntegrityEventId(), 0);

    EXPECT_EQ(Column(*m_db,
                     "SELECT quote([recorded])||' '||quote([status])||' '||quote([integrityRuleId])||' '||"
                     "quote([change])||' '||quote([severity])||' '||quote([wasEntity])||' '||"
                     "quote([isEntity])||' '||quote([user])||' '||quote([process])||' '||"
                     "quote([entityType])||' '||quote([key])||' '||quote([description]) "
                     "FROM [IntegrityEvents]"),
              std::vector<std::string>{"1700000000123 -1 1002 3 NULL 5000000001 NULL NULL NULL 'File' "
                                       "'/etc/gone' NULL"});

    CSqlIntegrityEvent loaded;
    loaded.SetIntegrityEventId(event.GetIntegrityEventId());
    ASSERT_TRUE(loaded.SQLLoad(*m_db));
    EXPECT_EQ(loaded.GetWasEntity(), 5000000001LL);
    EXPECT_EQ(loaded.GetKey(), wxT("/etc/gone"));
    EXPECT_EQ(loaded.GetEntityType(), wxT("File"));
    EXPECT_TRUE(loaded.GetDescription().empty());
    EXPECT_TRUE(loaded.IsAttributeNull(loaded.FindAttribute(wxT("isEntity"))->member));

    loaded.SetIsEntity(77);
    loaded.SetUser(wxT("root"));
    loaded.SetDescription(wxT("size:MTA=_MjA="));
    ASSERT_TRUE(loaded.SQLUpdate(*m_db));
    EXPECT_EQ(Text(*m_db, "SELECT [isEntity]||[user]||[description] FROM [IntegrityEvents]"),
              "77rootsize:MTA=_MjA=");
}

}  // namespace
