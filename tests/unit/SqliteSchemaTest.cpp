// The integrity schema as the record classes and the plug-in's SQL rely on it:
// tables and views with their columns in order, the AUTOINCREMENT key of the
// real-time queue, the delete rules, and the indexes behind per-entity queries.
#include <map>

#include "tests/unit/SqliteTestSupport.h"

namespace {

using KvoTest::Column;
using KvoTest::Scalar;
using KvoTest::Text;

// Column "name:type": k = integer key, i = integer, t = text, b = blob.
using Layout = std::vector<std::string>;

const std::vector<std::string> kSetColumns = {"entitySetId:k", "integrityRuleId:i", "onChange:i"};

Layout With(Layout head, const Layout& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const Layout kDirectorySet = With(
    kSetColumns,
    {"directory:t", "directorySearchBase:t", "directoryRegEx:t", "followLinks:i", "includeRemovable:i",
     "monitorPermissions:i", "monitorCreated:i", "monitorLastModified:i", "monitorLastAccessed:i",
     "monitorOwner:i", "monitorGroup:i", "monitorFlags:i", "monitorFlagsAll:i", "monitorSymLinkPath:i",
     "monitorInodeNumber:i", "monitorInodeGenerationNumber:i", "monitorDeviceNumber:i", "operations:t"});

const std::map<std::string, Layout>& ExpectedTables() {
    static const std::map<std::string, Layout> tables = {
        {"IntegrityRules",
         {"integrityRuleId:k", "name:t", "allowOnChange:i", "confidential:i", "hash:t", "identifier:t",
          "severity:i", "type:i"}},
        {"DirectorySets", kDirectorySet},
        {"FileSets", With(kDirectorySet, {"monitorSize:i", "monitorSha1:i", "monitorSha256:i", "monitorMd5:i",
                                          "monitorBlocksAllocated:i", "monitorGrowing:i", "monitorShrinking:i"})},
        {"GroupSets",
         With(kSetColumns, {"monitorDescription:i", "monitorGroup:i", "monitorMembers:i", "monitorSubGroups:i"})},
        {"InstalledSoftwareSets",
         With(kSetColumns, {"monitorInstalledDate:i", "monitorInstallLocation:i", "monitorManufacturer:i",
                            "monitorName:i", "monitorParent:i", "monitorSize:i", "monitorVersion:i"})},
        {"PortSets", With(kSetColumns, {"monitorCreated:i", "monitorGroup:i", "monitorListeners:i", "monitorPath:i",
                                        "monitorProcess:i", "monitorProcessId:i", "monitorUser:i"})},
        {"ProcessSets", With(kSetColumns, {"monitorCommandLine:i", "monitorGroup:i", "monitorParent:i",
                                           "monitorPath:i", "monitorProcess:i", "monitorThreads:i",
                                           "monitorUser:i"})},
        {"RegistryKeySets",
         With(kSetColumns, {"registryKey:t", "registryKeySearchBase:t", "registryKeyRegEx:t", "monitorOwner:i",
                            "monitorGroup:i", "monitorPermissions:i", "monitorLastModified:i", "monitorClass:i",
                            "monitorSecurityDescriptorSize:i"})},
        {"RegistryValueSets",
         With(kSetColumns, {"registryKey:t", "registryKeySearchBase:t", "registryKeyRegEx:t", "monitorSize:i",
                            "monitorSha1:i", "monitorSha256:i", "monitorMd5:i", "monitorType:i"})},
        {"ServiceSets",
         With(kSetColumns,
              {"monitorOwner:i", "monitorGroup:i", "monitorPermissions:i", "monitorBinaryPathName:i",
               "monitorDescription:i", "monitorDisplayName:i", "monitorState:i", "monitorStartType:i",
               "monitorLogOnAs:i", "monitorFirstFailure:i", "monitorSecondFailure:i", "monitorSubsequentFailures:i",
               "monitorResetFailCountAfter:i", "monitorRunProgram:i", "monitorDependsOn:i",
               "monitorLoadOrderGroup:i", "monitorRebootMessage:i", "monitorProcessId:i"})},
        {"UserSets",
         With(kSetColumns,
              {"monitorCannotChangePassword:i", "monitorDescription:i", "monitorDisabled:i", "monitorFullName:i",
               "monitorGroup:i", "monitorGroups:i", "monitorHomeDriveLetter:i", "monitorHomeFolder:i",
               "monitorLockedOut:i", "monitorLogonScript:i", "monitorLogonShell:i",
               "monitorPasswordExpiredDaysBeforeDisabled:i", "monitorPasswordExpiry:i",
               "monitorPasswordExpiryInDays:i", "monitorPasswordHasExpired:i", "monitorPasswordLastChanged:i",
               "monitorPasswordMinDaysBetweenChanges:i", "monitorPasswordNeverExpires:i",
               "monitorPasswordWarningDays:i", "monitorProfilePath:i", "monitorUser:i"})},
        {"WqlSets", With(kSetColumns, {"namespace:t", "wql:t", "provider:t", "timeout:i"})},
        {"IncludeExcludes", {"includeExcludeId:k", "entityType:t", "entitySetId:i", "exclude:i"}},
        {"Patterns", {"includeExcludeId:i", "pattern:t", "regExPattern:t", "caseSensitive:i"}},
        {"Features", {"includeExcludeId:i", "name:t", "value:t", "caseSensitive:i"}},
        {"Entitys",
         {"entityId:k", "entityType:t", "entitySetId:i", "integrityRuleId:i", "integrityRuleSeverity:i",
          "keyCanonical:t", "key:t", "whenScanned:i", "attributeHash:b", "supercededBy:i", "eventDropped:i"}},
        {"Attributes",
         {"attributeId:k", "entityId:i", "name:t", "value:t", "friendlyValue:t", "internalValue:t"}},
        {"IntegrityEvents",
         {"integrityEventId:k", "recorded:i", "status:i", "integrityRuleId:i", "change:i", "severity:i",
          "wasEntity:i", "isEntity:i", "user:t", "process:t", "entityType:t", "key:t", "description:t"}},
        {"Scans",
         {"scanId:k", "startTime:i", "endTime:i", "startingHighestExistingEntityId:i",
          "endingHighestExistingEntityId:i", "incrementalScan:i"}},
        {"Subscans",
         {"subscanId:k", "scanId:i", "startTime:i", "endTime:i", "entityType:t", "numEntitiesDeleted:i",
          "scanStep:i", "checkpointInfo:t"}},
        {"ScanEntitySetIds", {"scanId:i", "entityType:t", "entitySetId:i"}},
        {"ScanIntegrityRuleIds", {"scanId:i", "integrityRuleId:i"}},
        {"RealtimeChanges", {"realtimeChangeId:k", "entityType:t", "keyCanonical:t", "entitySetIds:t"}},
        {"ChangeDetails",
         {"realtimeChangeId:i", "change:i", "whenChangedFirst:i", "whenChangedLast:i", "keyCanonicalOld:t",
          "user:t", "process:t"}},
    };
    return tables;
}

// The layout PRAGMA table_info reports, in the same notation.
Layout ActualLayout(wxSQLite3Database& db, const std::string& table, std::vector<std::string>& problems) {
    Layout layout;
    wxSQLite3ResultSet rs = db.ExecuteQuery(wxString::Format("PRAGMA table_info([%s])", table));
    while (rs.NextRow()) {
        const std::string name = rs.GetString(1).ToStdString();
        const wxString type = rs.GetString(2).Upper();
        const bool key = rs.GetInt(5) != 0;
        if (rs.GetInt(3) != 0) problems.push_back(table + "." + name + " is NOT NULL");
        std::string code = "?" + type.ToStdString();
        if (key && type == "INTEGER")
            code = "k";
        else if (type == "INTEGER")
            code = "i";
        else if (type == "TEXT")
            code = "t";
        else if (type == "BLOB")
            code = "b";
        layout.push_back(name + ":" + code);
    }
    return layout;
}

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

TEST_F(SqliteSchemaTest, EveryTableHasItsColumnsInOrderAndNothingElse) {
    std::vector<std::string> problems;
    for (const auto& [table, expected] : ExpectedTables())
        EXPECT_EQ(ActualLayout(*m_db, table, problems), expected) << "table " << table;
    EXPECT_TRUE(problems.empty()) << problems.front();

    std::vector<std::string> expectedNames;
    for (const auto& entry : ExpectedTables()) expectedNames.push_back(entry.first);
    EXPECT_EQ(Column(*m_db,
                     "SELECT [name] FROM sqlite_master WHERE [type]='table' AND [name] NOT LIKE 'sqlite\\_%' "
                     "ESCAPE '\\' ORDER BY [name]"),
              expectedNames);
}

TEST_F(SqliteSchemaTest, SetTablesAreFoundByTheScanOrchestrationsQuery) {
    EXPECT_EQ(Column(*m_db, "SELECT NAME FROM sqlite_master WHERE TYPE='table' AND NAME GLOB '*Sets' ORDER BY NAME"),
              (std::vector<std::string>{"DirectorySets", "FileSets", "GroupSets", "InstalledSoftwareSets",
                                        "PortSets", "ProcessSets", "RegistryKeySets", "RegistryValueSets",
                                        "ServiceSets", "UserSets", "WqlSets"}));
}

TEST_F(SqliteSchemaTest, RecordDefaultsApplyToColumnsLeftOut) {
    Exec("INSERT INTO [WqlSets]([entitySetId]) VALUES(1)");
    Exec("INSERT INTO [FileSets]([entitySetId]) VALUES(1)");
    EXPECT_EQ(Scalar(*m_db, "SELECT [timeout] FROM [WqlSets]"), 5000);
    EXPECT_EQ(Scalar(*m_db, "SELECT [onChange] FROM [FileSets]"), 1);
    // An explicit NULL stays NULL: records write their NULL marks.
    Exec("INSERT INTO [FileSets]([entitySetId],[onChange]) VALUES(2,NULL)");
    EXPECT_EQ(Text(*m_db, "SELECT typeof([onChange]) FROM [FileSets] WHERE [entitySetId]=2"), "null");
}

TEST_F(SqliteSchemaTest, ViewsJoinOnTheSharedIdWithEachColumnOnce) {
    const std::map<std::string, std::vector<std::string>> views = {
        {"EntityAttributes",
         {"entityId", "entityType", "entitySetId", "integrityRuleId", "integrityRuleSeverity", "keyCanonical", "key",
          "whenScanned", "attributeHash", "supercededBy", "eventDropped", "attributeId", "name", "value",
          "friendlyValue", "internalValue"}},
        {"IncludeExcludePatterns",
         {"includeExcludeId", "entityType", "entitySetId", "exclude", "pattern", "regExPattern", "caseSensitive"}},
        {"IncludeExcludeFeatures",
         {"includeExcludeId", "entityType", "entitySetId", "exclude", "name", "value", "caseSensitive"}},
        {"RealtimeChangeDetails",
         {"realtimeChangeId", "entityType", "keyCanonical", "entitySetIds", "change", "whenChangedFirst",
          "whenChangedLast", "keyCanonicalOld", "user", "process"}},
    };
    for (const auto& [view, expected] : views)
        EXPECT_EQ(Column(*m_db, wxString::Format("SELECT [name] FROM pragma_table_info('%s')", view)), expected)
            << "view " << view;

    // Rows pair only on the id; a row without partner does not appear.
    Exec("INSERT INTO [Entitys]([entityId],[keyCanonical]) VALUES(1,'/a'),(2,'/b')");
    Exec("INSERT INTO [Attributes]([entityId],[name],[value]) VALUES(1,'size','10'),(1,'mode','644'),(3,'x','y')");
    EXPECT_EQ(Column(*m_db, "SELECT [keyCanonical]||':'||[name]||'='||[value] FROM [EntityAttributes] "
                            "ORDER BY [attributeId]"),
              (std::vector<std::string>{"/a:size=10", "/a:mode=644"}));
    Exec("INSERT INTO [IncludeExcludes] VALUES(1,'File',4,1)");
    Exec("INSERT INTO [Patterns] VALUES(1,'/etc/**','^/etc/.*$',1),(2,'/x','^/x$',1)");
    Exec("INSERT INTO [Features] VALUES(1,'owner','root',0)");
    EXPECT_EQ(Column(*m_db, "SELECT [entityType]||[entitySetId]||[exclude]||[pattern] FROM [IncludeExcludePatterns]"),
              (std::vector<std::string>{"File41/etc/**"}));
    EXPECT_EQ(Column(*m_db, "SELECT [name]||'='||[value] FROM [IncludeExcludeFeatures] WHERE [includeExcludeId]=1"),
              (std::vector<std::string>{"owner=root"}));
    Exec("INSERT INTO [RealtimeChanges]([entityType],[keyCanonical],[entitySetIds]) VALUES('File','/f','1,2')");
    Exec("INSERT INTO [ChangeDetails] VALUES(1,4,100,200,NULL,'root','vi')");
    EXPECT_EQ(Column(*m_db, "SELECT [keyCanonical]||[entitySetIds]||[change]||[whenChangedLast]||[process] "
                            "FROM [RealtimeChangeDetails]"),
              (std::vector<std::string>{"/f1,24200vi"}));
}

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
    Exec("PRAGMA user_version=1");
    m_db->Close();
    ASSERT_TRUE(m_db->Open(Path("si.db"), 1, "WAL"));
    EXPECT_EQ(Scalar(*m_db, "PRAGMA user_version"), KvoCore::CSqliteDatabase::SchemaVersion);
    EXPECT_EQ(Text(*m_db, "SELECT [name] FROM [IntegrityRules] WHERE [integrityRuleId]=3"), "etc");
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
    static const char* const kTypes[] = {"Directory", "File",          "Group",   "InstalledSoftware",
                                         "Port",      "Process",       "RegistryKey", "RegistryValue",
                                         "Service",   "User",          "Wql"};
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

TEST_F(SqliteSchemaTest, DeletingARuleRemovesOnlyItsSetsAndTheirDetails) {
    AddRuleWithAllSets(*m_db, 1, 10, 100);
    AddRuleWithAllSets(*m_db, 2, 20, 200);
    // Same set id under another type, owned by rule 2: its include must survive.
    Exec("INSERT INTO [IncludeExcludes] VALUES(300,'Other',10,0)");
    Exec("INSERT INTO [Patterns] VALUES(300,'/q','^/q$',1)");

    Exec("DELETE FROM [IntegrityRules] WHERE [integrityRuleId]=1");

    for (const char* table :
         {"DirectorySets", "FileSets", "GroupSets", "InstalledSoftwareSets", "PortSets", "ProcessSets",
          "RegistryKeySets", "RegistryValueSets", "ServiceSets", "UserSets", "WqlSets"}) {
        EXPECT_EQ(Count(table, "[integrityRuleId]=1"), 0) << table;
        EXPECT_EQ(Count(table, "[integrityRuleId]=2"), 1) << table;
    }
    EXPECT_EQ(Column(*m_db, "SELECT [includeExcludeId] FROM [IncludeExcludes] WHERE [entitySetId]=10"),
              std::vector<std::string>{"300"});
    EXPECT_EQ(Count("IncludeExcludes", "[entitySetId]=20"), 11);
    EXPECT_EQ(Count("Patterns", "[includeExcludeId]<200"), 0);
    EXPECT_EQ(Count("Features", "[includeExcludeId]<200"), 0);
    EXPECT_EQ(Count("Patterns"), 12);
    EXPECT_EQ(Count("Features"), 11);
}

TEST_F(SqliteSchemaTest, EachSetTableRemovesOnlyIncludesOfItsOwnType) {
    // Every kind's set id 5 exists; each include names one kind.
    AddRuleWithAllSets(*m_db, 1, 5, 100);
    for (const char* type : {"Directory", "File", "Group", "InstalledSoftware", "Port", "Process", "RegistryKey",
                             "RegistryValue", "Service", "User", "Wql"}) {
        SCOPED_TRACE(type);
        const long long before = Count("IncludeExcludes");
        m_db->ExecuteUpdate(wxString::Format("DELETE FROM [%sSets] WHERE [entitySetId]=5", type));
        EXPECT_EQ(Count("IncludeExcludes", wxString::Format("[entityType]='%s'", type).ToStdString()), 0);
        EXPECT_EQ(Count("IncludeExcludes"), before - 1);
    }
    EXPECT_EQ(Count("Patterns"), 0);
    EXPECT_EQ(Count("Features"), 0);
}

TEST_F(SqliteSchemaTest, ReplacingARuleRowDropsTheRowsOfItsEarlierStoring) {
    AddRuleWithAllSets(*m_db, 1, 10, 100);
    Exec("INSERT OR REPLACE INTO [IntegrityRules]([integrityRuleId],[name]) VALUES(1,'changed')");
    EXPECT_EQ(Text(*m_db, "SELECT [name] FROM [IntegrityRules]"), "changed");
    EXPECT_EQ(Count("FileSets"), 0);
    EXPECT_EQ(Count("IncludeExcludes"), 0);
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

// Per-entity and per-owner lookups must search an index: over a baseline of
// millions of rows a full scan per entity would stall every scan.
TEST_F(SqliteSchemaTest, PerEntityQueriesSearchAnIndex) {
    std::vector<std::string> queries = {
        "SELECT HASH([value],'sha1') FROM (SELECT [value] FROM [Attributes] WHERE [entityId]=?1 ORDER BY [name])",
        "SELECT * FROM [Entitys] WHERE [keyCanonical]=?1 AND [entitySetId]=?2 AND [supercededBy] IS NULL",
        "SELECT [entitySetId] FROM [Entitys] WHERE [entityType]=?1 AND [keyCanonical]=?2 AND [supercededBy] ISNULL",
        "SELECT * FROM [Entitys] WHERE [supercededBy]=0",
        "DELETE FROM [Entitys] WHERE ([supercededBy]=-1 OR [supercededBy]>0)",
        "SELECT * FROM [Entitys] WHERE [integrityRuleId]=?1",
        "SELECT * FROM [EntityAttributes] WHERE [entityId]=?1",
        "SELECT * FROM [IncludeExcludePatterns] WHERE [entitySetId]=?1 AND [entityType]=?2",
        "SELECT * FROM [IncludeExcludeFeatures] WHERE [entitySetId]=?1 AND [entityType]=?2",
        "SELECT * FROM [Subscans] WHERE [scanId]=?1",
        "SELECT * FROM [ScanEntitySetIds] WHERE [scanId]=?1",
        "SELECT * FROM [ScanIntegrityRuleIds] WHERE [scanId]=?1",
        "SELECT * FROM [RealtimeChangeDetails] WHERE [keyCanonical]=?1",
        "SELECT * FROM [ChangeDetails] WHERE [realtimeChangeId]=?1",
        "SELECT * FROM [IntegrityEvents] WHERE [recorded]<?1",
        // What the delete triggers run for each deleted owner row.
        "DELETE FROM [Attributes] WHERE [entityId]=?1",
        "DELETE FROM [IncludeExcludes] WHERE [entitySetId]=?1 AND [entityType]='File'",
        "DELETE FROM [Patterns] WHERE [includeExcludeId]=?1",
        "DELETE FROM [Features] WHERE [includeExcludeId]=?1",
        "DELETE FROM [ChangeDetails] WHERE [realtimeChangeId]=?1",
    };
    for (const char* type : {"Directory", "File", "Group", "InstalledSoftware", "Port", "Process", "RegistryKey",
                             "RegistryValue", "Service", "User", "Wql"})
        queries.push_back(wxString::Format("SELECT * FROM [%sSets] WHERE [integrityRuleId]=?1", type).ToStdString());

    for (const std::string& query : queries) {
        const std::vector<std::string> plan = QueryPlan(*m_db, query);
        std::string text;
        bool searched = false, scansTable = false;
        for (const std::string& step : plan) {
            text += step + "; ";
            searched |= step.find("USING INDEX") != std::string::npos ||
                        step.find("USING COVERING INDEX") != std::string::npos ||
                        step.find("MULTI-INDEX OR") != std::string::npos;
            // Reading the rows a subquery produced is fine; reading a whole table is not.
            scansTable |= step.rfind("SCAN ", 0) == 0 && step.rfind("SCAN (subquery", 0) != 0;
        }
        EXPECT_TRUE(searched) << query << "\n  plan: " << text;
        EXPECT_FALSE(scansTable) << query << "\n  plan: " << text;
        EXPECT_EQ(text.find("TEMP B-TREE"), std::string::npos) << query << "\n  plan: " << text;
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
