// The integrity schema as the plug-in's SQL relies on it beyond its columns
// (which the record classes check against it): the AUTOINCREMENT keys, the
// delete rules, and the indexes behind per-entity queries.

#include "tests/unit/SqliteTestSupport.h"

namespace {

using KvoTest::Column;
using KvoTest::Scalar;
using KvoTest::Text;

const char* const kTypes[] = {"Directory", "File",        "Group",         "InstalledSoftware", "Port", "Process",
                              "RegistryKey", "RegistryValue", "Service", "User",              "Wql"};

class SqliteSchemaTest : public KvoTest::SqliteFixture {
protected:
    void SetUp() override {
        SqliteFixture::SetUp();
        if (HasFatalFailure()) return;
        m_db = OpenDb();
        ASSERT_TRUE(m_db->IsOpenDb());
    }
    void TearDown() override {
        m_db.reset();
        SqliteFixture::TearDown();
    }

    void Exec(const wxString& sql) { m_db->ExecuteUpdate(sql); }
    long long Count(const std::string& table, const std::string& where = "1") {
        return Scalar(*m_db, wxString::Format("SELECT COUNT(*) FROM [%s] WHERE %s", table, where));
    }

    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
};

// Entity ids delimit what a scan recorded (above the id of a marker row it
// deleted again), real-time change ids what a consumer has taken.
TEST_F(SqliteSchemaTest, DeletedIdsAreNeverReused) {
    for (const char* table : {"RealtimeChanges", "Entitys"}) {
        SCOPED_TRACE(table);
        Exec(wxString::Format("INSERT INTO [%s]([keyCanonical]) VALUES('/a'),('/b'),('/c')", table));
        EXPECT_EQ(Scalar(*m_db, wxString::Format("SELECT [seq] FROM sqlite_sequence WHERE [name]='%s'", table)), 3);
        Exec(wxString::Format("DELETE FROM [%s]", table));
        Exec(wxString::Format("INSERT INTO [%s]([keyCanonical]) VALUES('/d')", table));
        EXPECT_EQ(Scalar(*m_db, wxString::Format("SELECT MAX(rowid) FROM [%s]", table)), 4);
    }
}

TEST_F(SqliteSchemaTest, SchemaIsRecordedAndReopeningKeepsRows) {
    EXPECT_EQ(Scalar(*m_db, "PRAGMA user_version"), KvoCore::CSqliteDatabase::SchemaVersion);
    Exec("INSERT INTO [IntegrityRules]([integrityRuleId],[name]) VALUES(3,'etc')");
    // A version-1 file (scan ids reused, no scan trigger) is upgraded in place:
    // every statement runs again and must tolerate what exists already.
    Exec("DROP TABLE [Scans]");
    Exec("CREATE TABLE [Scans]([scanId] INTEGER PRIMARY KEY,[startTime] INTEGER,[endTime] INTEGER,"
         "[startingHighestExistingEntityId] INTEGER,[endingHighestExistingEntityId] INTEGER,[incrementalScan] INTEGER)");
    Exec("INSERT INTO [Scans]([scanId]) VALUES(7)");
    Exec("CREATE INDEX [AttributesEntityIdName] ON [Attributes]([entityId],[name])");
    Exec("CREATE INDEX [EntitysKeyCanonicalSet] ON [Entitys]([keyCanonical],[supercededBy])");
    Exec("PRAGMA user_version=1");
    m_db->Close();
    ASSERT_TRUE(m_db->OpenIntegrityDb(Path("si.db"), KvoCore::DbAccess::ReadWrite));
    EXPECT_EQ(Scalar(*m_db, "PRAGMA user_version"), KvoCore::CSqliteDatabase::SchemaVersion);
    EXPECT_EQ(Text(*m_db, "SELECT [name] FROM [IntegrityRules] WHERE [integrityRuleId]=3"), "etc");
    EXPECT_EQ(Scalar(*m_db, "SELECT COUNT(*) FROM sqlite_master WHERE [name] IN "
                            "('AttributesEntityIdName','EntitysKeyCanonicalSet')"),
              0);
    // An open scan's rows go with it; its waiting entity sets wait again; its id never returns.
    Exec("INSERT INTO [Subscans]([scanId]) VALUES(7)");
    Exec("INSERT INTO [ScanIntegrityRuleIds]([scanId]) VALUES(7)");
    Exec("INSERT INTO [ScanEntitySetIds]([scanId],[entitySetId]) VALUES(7,4)");
    Exec("DELETE FROM [Scans]");
    EXPECT_EQ(Scalar(*m_db, "SELECT (SELECT COUNT(*) FROM [Subscans])+(SELECT COUNT(*) FROM [ScanIntegrityRuleIds])"), 0);
    EXPECT_EQ(Scalar(*m_db, "SELECT COUNT(*) FROM [ScanEntitySetIds] WHERE [scanId] IS NULL AND [entitySetId]=4"), 1);
    Exec("INSERT INTO [Scans]([startTime]) VALUES(1)");
    EXPECT_EQ(Scalar(*m_db, "SELECT MAX([scanId]) FROM [Scans]"), 8);
}

// Fills rule ruleId with one set of each kind (set id = setId) and, for each
// set, an include with a pattern and a feature.
void AddRuleWithAllSets(KvoCore::CSqliteDatabase& db, int ruleId, int setId, int firstIncludeId) {
    db.ExecuteUpdate(wxString::Format("INSERT INTO [IntegrityRules]([integrityRuleId],[name]) VALUES(%d,'r%d')",
                                      ruleId, ruleId));
    int includeId = firstIncludeId;
    for (const char* type : kTypes) {
        db.ExecuteUpdate(wxString::Format("INSERT INTO [%sSets]([entitySetId],[integrityRuleId]) VALUES(%d,%d)", type,
                                          setId, ruleId));
        db.ExecuteUpdate(wxString::Format("INSERT INTO [IncludeExcludes] VALUES(%d,'%s',%d,0)", includeId, type, setId));
        db.ExecuteUpdate(wxString::Format("INSERT INTO [Patterns] VALUES(%d,'/p','^/p$',1)", includeId));
        db.ExecuteUpdate(wxString::Format("INSERT INTO [Features] VALUES(%d,'n','v',1)", includeId));
        ++includeId;
    }
}

TEST_F(SqliteSchemaTest, DeletingOrReplacingARuleRemovesOnlyItsSetsAndTheirDetails) {
    AddRuleWithAllSets(*m_db, 1, 10, 100);
    AddRuleWithAllSets(*m_db, 2, 20, 200);
    // Same set id under another type, owned by rule 2: its include must survive.
    Exec("INSERT INTO [IncludeExcludes] VALUES(300,'Other',10,0)");
    Exec("INSERT INTO [Patterns] VALUES(300,'/q','^/q$',1)");

    Exec("DELETE FROM [IntegrityRules] WHERE [integrityRuleId]=1");

    for (const std::string type : kTypes) {
        EXPECT_EQ(Count(type + "Sets", "[integrityRuleId]=1"), 0) << type;
        EXPECT_EQ(Count(type + "Sets", "[integrityRuleId]=2"), 1) << type;
    }
    EXPECT_EQ(Column(*m_db, "SELECT [includeExcludeId] FROM [IncludeExcludes] WHERE [entitySetId]=10"),
              std::vector<std::string>{"300"});
    EXPECT_EQ(Count("IncludeExcludes", "[entitySetId]=20"), 11);
    EXPECT_EQ(Count("Patterns", "[includeExcludeId]<200"), 0);
    EXPECT_EQ(Count("Features", "[includeExcludeId]<200"), 0);
    EXPECT_EQ(Count("Patterns"), 12);
    EXPECT_EQ(Count("Features"), 11);

    // Storing a rule again replaces its row: the rows of its earlier storing go.
    Exec("INSERT OR REPLACE INTO [IntegrityRules]([integrityRuleId],[name]) VALUES(2,'changed')");
    EXPECT_EQ(Text(*m_db, "SELECT [name] FROM [IntegrityRules]"), "changed");
    EXPECT_EQ(Count("FileSets"), 0);
    EXPECT_EQ(Count("Patterns"), 1);
    EXPECT_EQ(Count("Features"), 0);
}

TEST_F(SqliteSchemaTest, EachSetTableRemovesOnlyIncludesOfItsOwnType) {
    // Every kind's set id 5 exists; each include names one kind.
    AddRuleWithAllSets(*m_db, 1, 5, 100);
    for (const char* type : kTypes) {
        SCOPED_TRACE(type);
        const long long before = Count("IncludeExcludes");
        m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%sSets] WHERE [entitySetId]=5", type));
        EXPECT_EQ(Count("IncludeExcludes", wxString::Format("[entityType]='%s'", type).ToStdString()), 0);
        EXPECT_EQ(Count("IncludeExcludes"), before - 1);
    }
    EXPECT_EQ(Count("Patterns"), 0);
    EXPECT_EQ(Count("Features"), 0);
}

TEST_F(SqliteSchemaTest, EntityAndChangeDeletesTakeTheirDetailRows) {
    Exec("INSERT INTO [Entitys]([entityId],[supercededBy]) VALUES(1,2),(2,NULL),(3,-1),(4,0)");
    Exec("INSERT INTO [Attributes]([entityId],[name]) VALUES(1,'a'),(1,'b'),(2,'a'),(3,'a'),(4,'a')");
    Exec("DELETE FROM [Entitys] WHERE ([supercededBy]=-1 OR [supercededBy]>0)");
    EXPECT_EQ(Column(*m_db, "SELECT [entityId] FROM [Attributes] ORDER BY [entityId]"),
              (std::vector<std::string>{"2", "4"}));

    Exec("INSERT INTO [RealtimeChanges]([realtimeChangeId]) VALUES(1),(2)");
    Exec("INSERT INTO [ChangeDetails]([realtimeChangeId],[change]) VALUES(1,1),(1,2),(2,1)");
    Exec("DELETE FROM [RealtimeChanges] WHERE [realtimeChangeId]<=1");
    EXPECT_EQ(Column(*m_db, "SELECT [realtimeChangeId] FROM [ChangeDetails]"), std::vector<std::string>{"2"});
}

std::vector<std::string> QueryPlan(wxSQLite3Database& db, const std::string& query) {
    std::vector<std::string> steps;
    wxSQLite3ResultSet rs = db.ExecuteQuery("EXPLAIN QUERY PLAN " + wxString::FromUTF8(query));
    while (rs.NextRow()) steps.push_back(rs.GetString(3).ToStdString());
    return steps;
}

// Per-owner lookups and the purges must search an index: over a baseline of
// millions of rows a full scan per row would stall every scan. (The scanners'
// per-entity statements are checked where they are prepared.)
TEST_F(SqliteSchemaTest, PerEntityQueriesSearchAnIndex) {
    std::vector<std::string> queries = {
        "SELECT * FROM [Entitys] WHERE [supercededBy]=0",
        "DELETE FROM [Entitys] WHERE ([supercededBy]=-1 OR [supercededBy]>0)",
        "SELECT * FROM [Entitys] WHERE [integrityRuleId]=?1",
        "SELECT * FROM [EntityAttributes] WHERE [entityId]=?1",
        "SELECT * FROM [IncludeExcludePatterns] WHERE [entitySetId]=?1 AND [entityType]=?2",
        "SELECT * FROM [IncludeExcludeFeatures] WHERE [entitySetId]=?1 AND [entityType]=?2",
        "SELECT * FROM [Subscans] WHERE [scanId]=?1",
        "SELECT * FROM [ScanEntitySetIds] WHERE [scanId]=?1",
        "SELECT * FROM [ScanIntegrityRuleIds] WHERE [scanId]=?1",
        "SELECT * FROM [ChangeDetails] WHERE [realtimeChangeId]=?1",
        "SELECT * FROM [IntegrityEvents] WHERE [recorded]<?1",
        // What the delete triggers run for each deleted owner row.
        "DELETE FROM [Attributes] WHERE [entityId]=?1",
        "DELETE FROM [IncludeExcludes] WHERE [entitySetId]=?1 AND [entityType]='File'",
        "DELETE FROM [Patterns] WHERE [includeExcludeId]=?1",
        "DELETE FROM [Features] WHERE [includeExcludeId]=?1",
        "DELETE FROM [ChangeDetails] WHERE [realtimeChangeId]=?1",
    };
    for (const char* type : kTypes)
        queries.push_back(wxString::Format("SELECT * FROM [%sSets] WHERE [integrityRuleId]=?1", type).ToStdString());

    for (const std::string& query : queries) {
        std::string text;
        bool scansTable = false;
        for (const std::string& step : QueryPlan(*m_db, query)) {
            text += step + "; ";
            // Reading the rows a subquery produced is fine; reading a whole table is not.
            scansTable |= step.rfind("SCAN ", 0) == 0 && step.rfind("SCAN (subquery", 0) != 0;
        }
        const bool searched = text.find("INDEX") != std::string::npos;
        EXPECT_TRUE(searched && !scansTable && text.find("TEMP B-TREE") == std::string::npos) << query << "\n  plan: " << text;
    }

    // The control thread's rules-without-entities query walks the few rules
    // but must not walk the baseline once per rule.
    std::string text;
    for (const std::string& step :
         QueryPlan(*m_db, "SELECT [integrityRuleId],[name] FROM (SELECT * FROM [IntegrityRules] NATURAL LEFT JOIN "
                          "[Entitys] WHERE [supercededBy] IS NULL) WHERE [entityId] IS NULL;"))
        text += step + "; ";
    EXPECT_NE(text.find("SEARCH Entitys USING"), std::string::npos) << text;
}

}  // namespace
