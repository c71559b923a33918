// The integrity schema. Column order and names are those of the record
// classes' registered attributes, which read and write rows by name and list
// columns in this order. No column is NOT NULL: a record writes its NULL marks
// as NULL. No foreign keys: dependent rows go through the triggers below, which
// also fire for the deletes done by INSERT OR REPLACE (the connection turns on
// recursive_triggers).
#include <wx/arrstr.h>

#include "core/SqliteDatabase.h"

namespace KvoCore {

const int CSqliteDatabase::SchemaVersion = 4;

namespace {

// The columns every entity-set table starts with. Set ids are never reused:
// retired entities and pending incremental scopes still name old sets.
#define KVO_SET_COLUMNS                                                                  \
    "[entitySetId] INTEGER PRIMARY KEY AUTOINCREMENT,"                                   \
    "[integrityRuleId] INTEGER,"                                                         \
    "[onChange] INTEGER DEFAULT 1,"

#define KVO_DIRECTORY_SET_COLUMNS                                                        \
    KVO_SET_COLUMNS                                                                      \
    "[directory] TEXT,"                                                                  \
    "[directorySearchBase] TEXT,"                                                        \
    "[directoryRegEx] TEXT,"                                                             \
    "[followLinks] INTEGER,"                                                             \
    "[includeRemovable] INTEGER,"                                                        \
    "[monitorPermissions] INTEGER,"                                                      \
    "[monitorCreated] INTEGER,"                                                          \
    "[monitorLastModified] INTEGER,"                                                     \
    "[monitorLastAccessed] INTEGER,"                                                     \
    "[monitorOwner] INTEGER,"                                                            \
    "[monitorGroup] INTEGER,"                                                            \
    "[monitorFlags] INTEGER,"                                                            \
    "[monitorFlagsAll] INTEGER,"                                                         \
    "[monitorSymLinkPath] INTEGER,"                                                      \
    "[monitorInodeNumber] INTEGER,"                                                      \
    "[monitorInodeGenerationNumber] INTEGER,"                                            \
    "[monitorDeviceNumber] INTEGER,"                                                     \
    "[operations] TEXT"

#define KVO_REGISTRY_SET_COLUMNS                                                         \
    KVO_SET_COLUMNS                                                                      \
    "[registryKey] TEXT,"                                                                \
    "[registryKeySearchBase] TEXT,"                                                      \
    "[registryKeyRegEx] TEXT,"

const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS [IntegrityRules]("
    "[integrityRuleId] INTEGER PRIMARY KEY,"
    "[name] TEXT,"
    "[allowOnChange] INTEGER,"
    "[confidential] INTEGER,"
    "[hash] TEXT,"
    "[identifier] TEXT,"
    "[severity] INTEGER,"
    "[type] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [DirectorySets](" KVO_DIRECTORY_SET_COLUMNS ")",

    "CREATE TABLE IF NOT EXISTS [FileSets](" KVO_DIRECTORY_SET_COLUMNS ","
    "[monitorSize] INTEGER,"
    "[monitorSha1] INTEGER,"
    "[monitorSha256] INTEGER,"
    "[monitorMd5] INTEGER,"
    "[monitorBlocksAllocated] INTEGER,"
    "[monitorGrowing] INTEGER,"
    "[monitorShrinking] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [GroupSets](" KVO_SET_COLUMNS
    "[monitorDescription] INTEGER,"
    "[monitorGroup] INTEGER,"
    "[monitorMembers] INTEGER,"
    "[monitorSubGroups] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [InstalledSoftwareSets](" KVO_SET_COLUMNS
    "[monitorInstalledDate] INTEGER,"
    "[monitorInstallLocation] INTEGER,"
    "[monitorManufacturer] INTEGER,"
    "[monitorName] INTEGER,"
    "[monitorParent] INTEGER,"
    "[monitorSize] INTEGER,"
    "[monitorVersion] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [PortSets](" KVO_SET_COLUMNS
    "[monitorCreated] INTEGER,"
    "[monitorGroup] INTEGER,"
    "[monitorListeners] INTEGER,"
    "[monitorPath] INTEGER,"
    "[monitorProcess] INTEGER,"
    "[monitorProcessId] INTEGER,"
    "[monitorUser] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [ProcessSets](" KVO_SET_COLUMNS
    "[monitorCommandLine] INTEGER,"
    "[monitorGroup] INTEGER,"
    "[monitorParent] INTEGER,"
    "[monitorPath] INTEGER,"
    "[monitorProcess] INTEGER,"
    "[monitorThreads] INTEGER,"
    "[monitorUser] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [RegistryKeySets](" KVO_REGISTRY_SET_COLUMNS
    "[monitorOwner] INTEGER,"
    "[monitorGroup] INTEGER,"
    "[monitorPermissions] INTEGER,"
    "[monitorLastModified] INTEGER,"
    "[monitorClass] INTEGER,"
    "[monitorSecurityDescriptorSize] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [RegistryValueSets](" KVO_REGISTRY_SET_COLUMNS
    "[monitorSize] INTEGER,"
    "[monitorSha1] INTEGER,"
    "[monitorSha256] INTEGER,"
    "[monitorMd5] INTEGER,"
    "[monitorType] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [ServiceSets](" KVO_SET_COLUMNS
    "[monitorOwner] INTEGER,"
    "[monitorGroup] INTEGER,"
    "[monitorPermissions] INTEGER,"
    "[monitorBinaryPathName] INTEGER,"
    "[monitorDescription] INTEGER,"
    "[monitorDisplayName] INTEGER,"
    "[monitorState] INTEGER,"
    "[monitorStartType] INTEGER,"
    "[monitorLogOnAs] INTEGER,"
    "[monitorFirstFailure] INTEGER,"
    "[monitorSecondFailure] INTEGER,"
    "[monitorSubsequentFailures] INTEGER,"
    "[monitorResetFailCountAfter] INTEGER,"
    "[monitorRunProgram] INTEGER,"
    "[monitorDependsOn] INTEGER,"
    "[monitorLoadOrderGroup] INTEGER,"
    "[monitorRebootMessage] INTEGER,"
    "[monitorProcessId] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [UserSets](" KVO_SET_COLUMNS
    "[monitorCannotChangePassword] INTEGER,"
    "[monitorDescription] INTEGER,"
    "[monitorDisabled] INTEGER,"
    "[monitorFullName] INTEGER,"
    "[monitorGroup] INTEGER,"
    "[monitorGroups] INTEGER,"
    "[monitorHomeDriveLetter] INTEGER,"
    "[monitorHomeFolder] INTEGER,"
    "[monitorLockedOut] INTEGER,"
    "[monitorLogonScript] INTEGER,"
    "[monitorLogonShell] INTEGER,"
    "[monitorPasswordExpiredDaysBeforeDisabled] INTEGER,"
    "[monitorPasswordExpiry] INTEGER,"
    "[monitorPasswordExpiryInDays] INTEGER,"
    "[monitorPasswordHasExpired] INTEGER,"
    "[monitorPasswordLastChanged] INTEGER,"
    "[monitorPasswordMinDaysBetweenChanges] INTEGER,"
    "[monitorPasswordNeverExpires] INTEGER,"
    "[monitorPasswordWarningDays] INTEGER,"
    "[monitorProfilePath] INTEGER,"
    "[monitorUser] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [WqlSets](" KVO_SET_COLUMNS
    "[namespace] TEXT,"
    "[wql] TEXT,"
    "[provider] TEXT,"
    "[timeout] INTEGER DEFAULT 5000)",

    "CREATE TABLE IF NOT EXISTS [IncludeExcludes]("
    "[includeExcludeId] INTEGER PRIMARY KEY,"
    "[entityType] TEXT,"
    "[entitySetId] INTEGER,"
    "[exclude] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [Patterns]("
    "[includeExcludeId] INTEGER,"
    "[pattern] TEXT,"
    "[regExPattern] TEXT,"
    "[caseSensitive] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [Features]("
    "[includeExcludeId] INTEGER,"
    "[name] TEXT,"
    "[value] TEXT,"
    "[caseSensitive] INTEGER)",

    // A scan takes its start from a marker row it deletes again, and tells
    // its own rows by ids above the marker's: ids must never be reused.
    "CREATE TABLE IF NOT EXISTS [Entitys]("
    "[entityId] INTEGER PRIMARY KEY AUTOINCREMENT,"
    "[entityType] TEXT,"
    "[entitySetId] INTEGER,"
    "[integrityRuleId] INTEGER,"
    "[integrityRuleSeverity] INTEGER,"
    "[keyCanonical] TEXT,"
    "[key] TEXT,"
    "[whenScanned] INTEGER,"
    "[attributeHash] BLOB,"
    "[supercededBy] INTEGER,"
    "[eventDropped] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [Attributes]("
    "[attributeId] INTEGER PRIMARY KEY,"
    "[entityId] INTEGER,"
    "[name] TEXT,"
    "[value] TEXT,"
    "[friendlyValue] TEXT,"
    "[internalValue] TEXT)",

    // AUTOINCREMENT: a consumer pages by the last event id it took, and events
    // recorded after every kept one was delivered must still come after it.
    "CREATE TABLE IF NOT EXISTS [IntegrityEvents]("
    "[integrityEventId] INTEGER PRIMARY KEY AUTOINCREMENT,"
    "[recorded] INTEGER,"
    "[status] INTEGER,"
    "[integrityRuleId] INTEGER,"
    "[change] INTEGER,"
    "[severity] INTEGER,"
    "[wasEntity] INTEGER,"
    "[isEntity] INTEGER,"
    "[user] TEXT,"
    "[process] TEXT,"
    "[entityType] TEXT,"
    "[key] TEXT,"
    "[description] TEXT)",

    // AUTOINCREMENT: a deleted (aborted) scan's id must not come back, or rows
    // still naming it would join the new scan.
    "CREATE TABLE IF NOT EXISTS [Scans]("
    "[scanId] INTEGER PRIMARY KEY AUTOINCREMENT,"
    "[startTime] INTEGER,"
    "[endTime] INTEGER,"
    "[startingHighestExistingEntityId] INTEGER,"
    "[endingHighestExistingEntityId] INTEGER,"
    "[incrementalScan] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [Subscans]("
    "[subscanId] INTEGER PRIMARY KEY,"
    "[scanId] INTEGER,"
    "[startTime] INTEGER,"
    "[endTime] INTEGER,"
    "[entityType] TEXT,"
    "[numEntitiesDeleted] INTEGER,"
    "[scanStep] INTEGER,"
    "[checkpointInfo] TEXT)",

    "CREATE TABLE IF NOT EXISTS [ScanEntitySetIds]("
    "[scanId] INTEGER,"
    "[entityType] TEXT,"
    "[entitySetId] INTEGER)",

    "CREATE TABLE IF NOT EXISTS [ScanIntegrityRuleIds]("
    "[scanId] INTEGER,"
    "[integrityRuleId] INTEGER)",

    // AUTOINCREMENT: pruning reads the table's sqlite_sequence row, and ids must
    // never be reused while a consumer still remembers the last one it took.
    "CREATE TABLE IF NOT EXISTS [RealtimeChanges]("
    "[realtimeChangeId] INTEGER PRIMARY KEY AUTOINCREMENT,"
    "[entityType] TEXT,"
    "[keyCanonical] TEXT,"
    "[entitySetIds] TEXT)",

    "CREATE TABLE IF NOT EXISTS [ChangeDetails]("
    "[realtimeChangeId] INTEGER,"
    "[change] INTEGER,"
    "[whenChangedFirst] INTEGER,"
    "[whenChangedLast] INTEGER,"
    "[keyCanonicalOld] TEXT,"
    "[user] TEXT,"
    "[process] TEXT)",
};

#undef KVO_SET_COLUMNS
#undef KVO_DIRECTORY_SET_COLUMNS
#undef KVO_REGISTRY_SET_COLUMNS

// Views name every column once, so that a record loads them by name without
// meeting the join column twice.
const char* const kViews[] = {
    "CREATE VIEW IF NOT EXISTS [EntityAttributes] AS SELECT "
    "e.[entityId] AS [entityId],e.[entityType] AS [entityType],e.[entitySetId] AS [entitySetId],"
    "e.[integrityRuleId] AS [integrityRuleId],e.[integrityRuleSeverity] AS [integrityRuleSeverity],"
    "e.[keyCanonical] AS [keyCanonical],e.[key] AS [key],e.[whenScanned] AS [whenScanned],"
    "e.[attributeHash] AS [attributeHash],e.[supercededBy] AS [supercededBy],"
    "e.[eventDropped] AS [eventDropped],"
    "a.[attributeId] AS [attributeId],a.[name] AS [name],a.[value] AS [value],"
    "a.[friendlyValue] AS [friendlyValue],a.[internalValue] AS [internalValue] "
    "FROM [Entitys] AS e JOIN [Attributes] AS a ON a.[entityId]=e.[entityId]",

    "CREATE VIEW IF NOT EXISTS [IncludeExcludePatterns] AS SELECT "
    "i.[includeExcludeId] AS [includeExcludeId],i.[entityType] AS [entityType],"
    "i.[entitySetId] AS [entitySetId],i.[exclude] AS [exclude],"
    "p.[pattern] AS [pattern],p.[regExPattern] AS [regExPattern],p.[caseSensitive] AS [caseSensitive] "
    "FROM [IncludeExcludes] AS i JOIN [Patterns] AS p ON p.[includeExcludeId]=i.[includeExcludeId]",

    "CREATE VIEW IF NOT EXISTS [IncludeExcludeFeatures] AS SELECT "
    "i.[includeExcludeId] AS [includeExcludeId],i.[entityType] AS [entityType],"
    "i.[entitySetId] AS [entitySetId],i.[exclude] AS [exclude],"
    "f.[name] AS [name],f.[value] AS [value],f.[caseSensitive] AS [caseSensitive] "
    "FROM [IncludeExcludes] AS i JOIN [Features] AS f ON f.[includeExcludeId]=i.[includeExcludeId]",

    "CREATE VIEW IF NOT EXISTS [RealtimeChangeDetails] AS SELECT "
    "r.[realtimeChangeId] AS [realtimeChangeId],r.[entityType] AS [entityType],"
    "r.[keyCanonical] AS [keyCanonical],r.[entitySetIds] AS [entitySetIds],"
    "d.[change] AS [change],d.[whenChangedFirst] AS [whenChangedFirst],"
    "d.[whenChangedLast] AS [whenChangedLast],d.[keyCanonicalOld] AS [keyCanonicalOld],"
    "d.[user] AS [user],d.[process] AS [process] "
    "FROM [RealtimeChanges] AS r JOIN [ChangeDetails] AS d ON d.[realtimeChangeId]=r.[realtimeChangeId]",
};

// Entity types owning the rows of IncludeExcludes, with their set tables.
const char* const kEntityTypes[] = {"Directory",   "File",          "Group",   "InstalledSoftware",
                                    "Port",        "Process",       "RegistryKey", "RegistryValue",
                                    "Service",     "User",          "Wql"};

// The lookups of the scanners, the matcher, the versioning, the purges and
// the real-time queue, each per entity or per owner id.
const char* const kIndexes[] = {
    // The entity id alone: an entity has a handful of rows, and the attribute
    // name in every index entry made the index a quarter of the database.
    "CREATE INDEX IF NOT EXISTS [AttributesEntityId] ON [Attributes]([entityId])",
    // Not on supercededBy: every scan flips it on each current row (to 0 at the
    // start, back when seen), and each flip moved the row's long key in here.
    "CREATE INDEX IF NOT EXISTS [EntitysKeySet] ON [Entitys]([keyCanonical],[entitySetId],[integrityRuleId])",
    "CREATE INDEX IF NOT EXISTS [EntitysSupercededBy] ON [Entitys]([supercededBy])",
    // Not on the rule id alone: that index also yields entityId order, and the
    // planner would then prefer it to the key lookup of the per-entity queries.
    "CREATE INDEX IF NOT EXISTS [EntitysRuleCurrent] ON [Entitys]([integrityRuleId],[supercededBy])",
    "CREATE INDEX IF NOT EXISTS [IncludeExcludesSetType] ON [IncludeExcludes]([entitySetId],[entityType])",
    "CREATE INDEX IF NOT EXISTS [PatternsIncludeExcludeId] ON [Patterns]([includeExcludeId])",
    "CREATE INDEX IF NOT EXISTS [FeaturesIncludeExcludeId] ON [Features]([includeExcludeId])",
    "CREATE INDEX IF NOT EXISTS [SubscansScanId] ON [Subscans]([scanId])",
    "CREATE INDEX IF NOT EXISTS [ScanEntitySetIdsScanId] ON [ScanEntitySetIds]([scanId])",
    "CREATE INDEX IF NOT EXISTS [ScanIntegrityRuleIdsScanId] ON [ScanIntegrityRuleIds]([scanId])",
    "CREATE INDEX IF NOT EXISTS [ChangeDetailsChangeId] ON [ChangeDetails]([realtimeChangeId])",
    "CREATE INDEX IF NOT EXISTS [RealtimeChangesKeyCanonical] ON [RealtimeChanges]([keyCanonical])",
    "CREATE INDEX IF NOT EXISTS [IntegrityEventsRecorded] ON [IntegrityEvents]([recorded])",
};

// Each owner's delete takes the rows it owns along.
const char* const kOwnerTriggers[] = {
    "CREATE TRIGGER IF NOT EXISTS [IncludeExcludesDelete] AFTER DELETE ON [IncludeExcludes] BEGIN "
    "DELETE FROM [Patterns] WHERE [includeExcludeId]=OLD.[includeExcludeId];"
    "DELETE FROM [Features] WHERE [includeExcludeId]=OLD.[includeExcludeId];"
    "END",

    "CREATE TRIGGER IF NOT EXISTS [EntitysDelete] AFTER DELETE ON [Entitys] BEGIN "
    "DELETE FROM [Attributes] WHERE [entityId]=OLD.[entityId];"
    "END",

    // Entity sets that an open (interrupted) scan had taken from the waiting
    // list go back to it: their change of search base still needs a scan.
    "CREATE TRIGGER IF NOT EXISTS [ScansDelete] AFTER DELETE ON [Scans] BEGIN "
    "DELETE FROM [Subscans] WHERE [scanId]=OLD.[scanId];"
    "DELETE FROM [ScanIntegrityRuleIds] WHERE [scanId]=OLD.[scanId];"
    "UPDATE [ScanEntitySetIds] SET [scanId]=NULL WHERE [scanId]=OLD.[scanId] AND OLD.[endTime] IS NULL;"
    "DELETE FROM [ScanEntitySetIds] WHERE [scanId]=OLD.[scanId];"
    "END",

    "CREATE TRIGGER IF NOT EXISTS [RealtimeChangesDelete] AFTER DELETE ON [RealtimeChanges] BEGIN "
    "DELETE FROM [ChangeDetails] WHERE [realtimeChangeId]=OLD.[realtimeChangeId];"
    "END",
};

// Tables that gained AUTOINCREMENT in version 2. Their rows are copied, so
// sqlite_sequence starts above the highest id kept.
const char* const kAutoincrementSince2[] = {"Scans", "IntegrityEvents"};

// The statement of kTables that creates table.
wxString CreateStatement(const wxString& table) {
    const wxString prefix = "CREATE TABLE IF NOT EXISTS [" + table + "](";
    for (const char* sql : kTables)
        if (wxString(sql).StartsWith(prefix)) return sql;
    return wxString();
}

wxArrayString BuildStatements() {
    wxArrayString statements;
    for (const char* sql : kTables) statements.Add(sql);
    for (const char* sql : kViews) statements.Add(sql);
    for (const char* sql : kIndexes) statements.Add(sql);

    // Storing a changed rule replaces its IntegrityRules row; the rows of its
    // earlier storing must go with the old row, or the scanners would read both.
    // A set's include/excludes are told apart from another kind's set with the
    // same id by their entity type.
    wxString ruleTrigger =
        "CREATE TRIGGER IF NOT EXISTS [IntegrityRulesDelete] AFTER DELETE ON [IntegrityRules] BEGIN ";
    for (const char* type : kEntityTypes) {
        statements.Add(wxString::Format(
            "CREATE INDEX IF NOT EXISTS [%sSetsIntegrityRuleId] ON [%sSets]([integrityRuleId])", type, type));
        statements.Add(wxString::Format(
            "CREATE TRIGGER IF NOT EXISTS [%sSetsDelete] AFTER DELETE ON [%sSets] BEGIN "
            "DELETE FROM [IncludeExcludes] WHERE [entitySetId]=OLD.[entitySetId] AND [entityType]='%s';"
            "END",
            type, type, type));
        ruleTrigger += wxString::Format("DELETE FROM [%sSets] WHERE [integrityRuleId]=OLD.[integrityRuleId];", type);
    }
    ruleTrigger += "END";
    statements.Add(ruleTrigger);
    for (const char* sql : kOwnerTriggers) statements.Add(sql);
    return statements;
}

}  // namespace

wxArrayString CSqliteDatabase::UpgradeStatements(int fromVersion) {
    wxArrayString statements;
    if (fromVersion < 3) statements.Add("DROP INDEX IF EXISTS [AttributesEntityIdName]");
    if (fromVersion < 4) statements.Add("DROP INDEX IF EXISTS [EntitysKeyCanonicalSet]");
    if (fromVersion != 1) return statements;
    // The indexes and triggers dropped with the old tables come back with the schema statements.
    for (const char* table : kAutoincrementSince2) {
        statements.Add(wxString::Format("ALTER TABLE [%s] RENAME TO [%sVersion1]", table, table));
        statements.Add(CreateStatement(table));
        statements.Add(wxString::Format("INSERT INTO [%s] SELECT * FROM [%sVersion1]", table, table));
        statements.Add(wxString::Format("DROP TABLE [%sVersion1]", table));
    }
    return statements;
}

const wxArrayString& CSqliteDatabase::SchemaStatements() {
    static const wxArrayString statements = BuildStatements();
    return statements;
}

}  // namespace KvoCore
