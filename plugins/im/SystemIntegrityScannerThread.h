// CIntegrityScanThread: abstract base of the scanner threads, one per subscan
// (one entity type of one scan).
//
// The control thread creates a scanner with CreateIntegrityScanThread (which
// takes ownership of the subscan row object), sets the highest entity id at
// the start of the scan, starts it, and learns of its end through a wake-up
// (Awaken on the parent) and IsFinished(). Deleting the object stops a thread
// that still runs.
//
// A scan is a resumable sequence of numbered steps (ScanStep), each a virtual
// hook; the next step and a checkpoint are written to the subscan row after
// every step. The base owns the thread's own connection to si.db with the
// statements every hook shares, and the syslog sender.
//
// Thread safety: GetScanId, GetEntityType, GetScanType, IsFinished and
// GetParent may be called from any thread; everything else belongs to the
// scanner's own thread (or to the owner before start).
#pragma once

#include <wx/buffer.h>
#include <wx/filename.h>
#include <wx/string.h>
#include <wx/thread.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/Dom.h"
#include "core/Runnable.h"
#include "core/SqliteTransaction.h"
#include "core/Syslogger.h"
#include "core/Utilities.h"
#include "plugins/im/EntityInfo.h"
#include "plugins/im/StateKeys.h"

struct cJSON;
class wxSQLite3ResultSet;
class wxSQLite3Statement;

namespace KvoCore {
class CSqliteDatabase;
class XMLObjectList;
}  // namespace KvoCore

namespace KvoPluginIm {

class CEventOutbox;
class CSqlAttribute;
class CSqlEntity;
class CSqlEntitys;
class CSqlEntitySet;
class CSqlIncludeExcludeFeatures;
class CSqlIncludeExcludePatterns;
class CSqlIntegrityRule;
class CSqlRealtimeChangeDetail;
class CSqlRealtimeChangeDetails;
class CSqlSubscan;
class CSystemIntegrityKeyMatch;

class CIntegrityScanThread : public KvoCore::CRunnable {
public:
    // Values of the subscan's scanStep: the step that runs next.
    enum ScanStep : int {
        StepInit = 0,
        StepResetSupersededBy = 100000,
        StepMatchEntities = 200000,
        StepProcessRealtimeChanges = 250000,
        StepGatherAttributeValues = 300000,
        StepProcessExternalEntities = 350000,
        StepScanPostProcessing = 400000,
        StepFinished = 999999999,
    };

    // SHA-1 of empty input: the attribute hash of an entity without attributes.
    static const unsigned char s_AttributeHashNull[20];
    // Operations that take this long or less are not traced under s_TraceStats.
    static const unsigned int s_StatsMinMsec;
    static const char* const s_TraceStats;  // Keys::kTraceStats

    // A new, unstarted scanner for the subscan's entity type (compared without
    // case); it owns subscan and wakes parent when it ends. Null, with the
    // error logged, for a type that has no scanner here; subscan then stays
    // with the caller.
    static CIntegrityScanThread* CreateIntegrityScanThread(KvoCore::CDom& dom, KvoCore::CRunnable* parent,
                                                           CSqlSubscan* subscan);
    // wxPATH_DOS when the agent protects a Windows host, else wxPATH_NATIVE.
    static wxPathFormat GetPathFormat(const KvoCore::CDom& agent);

    ~CIntegrityScanThread() override;
    CIntegrityScanThread(const CIntegrityScanThread&) = delete;
    CIntegrityScanThread& operator=(const CIntegrityScanThread&) = delete;

    // --- Virtual slots, in order ---
    // Closes the database, records whether the subscan finished, wakes the parent.
    void OnExit() override;
    wxString GetThreadName() const override = 0;
    // The step loop.
    void OnRun() override;
    // A new, empty entity-set record of the type, and a list of them; owned by the caller.
    virtual CSqlEntitySet* CreateEntitySetObject() const = 0;
    virtual KvoCore::XMLObjectList* CreateEntitySetCollection() const = 0;
    // Reads the key's current state and writes attribute rows for every
    // entity of the batch (one per entity set in which the key occurs).
    virtual void GatherAttributes(const wxString& key, EntityInfoList& entities) = 0;
    // GatherAttributes; false aborts the attribute step.
    virtual bool GatherAttributesWithResult(const wxString& key, EntityInfoList& entities);
    // Enumerates and records the entities of one entity set; false when the
    // scan must stop (shutdown, or a set that cannot be matched).
    virtual bool MatchSet(const KvoCore::XMLObjectList* sets, const CSqlEntitySet* set,
                          const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                          const CSqlIntegrityRule& rule, unsigned long maxDepth,
                          const KvoCore::Int64Set& includeExcludeIds) = 0;
    // A step number without a hook of its own: an error (false) in the base.
    virtual bool OnCustomStep(int step);
    virtual void OnEntityUnchanged(const CSqlEntity& current, const CSqlEntity& previous);
    // A step failed: agent event 3010 and the subscan marked finished, so that
    // it is not resumed.
    virtual void OnError();
    // Step hooks; each sets the next step and saves the subscan, returns false
    // when the scan must be aborted. The base versions of the real-time and
    // external-entity steps abort the scan.
    virtual bool OnInit();
    virtual bool OnGatherAttributeValues();
    virtual bool OnMatchEntities();
    // Waits on the type's external-entity queue and records what arrives
    // until the end marker (an entity with an empty key).
    virtual bool OnProcessExternalEntities();
    virtual bool OnProcessRealtimeChanges();
    // Content reading for hashing; the base has no content.
    virtual bool OnReadContentBegin(const wxString& key, unsigned long& handle);
    virtual bool OnReadContent(const wxString& key, unsigned long handle, unsigned long long offset, void*& data,
                               unsigned long& length);
    virtual bool OnReadContentEnd(const wxString& key, unsigned long handle);
    virtual bool OnResetSupersededBy();
    virtual bool OnScanPostProcessing();
    // Computes one attribute (named as the entity-set column, e.g.
    // "monitorSize") of key and writes it for the given entity rows.
    virtual void RecordAttribute(const wxString& key, const wxString& attributeName,
                                 const KvoCore::Int64Set& entityIds) = 0;
    // The type's key matcher; owned by the scanner.
    virtual const CSystemIntegrityKeyMatch* GetKeyMatcher() const = 0;
    // The scanner's trace category, e.g. Keys::kTraceScannerFile.
    virtual const char* GetTraceMask() const = 0;
    // Reads the scope of the scan (scan type, entity sets and rules);
    // subclasses call it first.
    virtual bool OnThreadStartup();
    // Stores one attribute of an external entity for the given entity rows:
    // digests arrive as hexadecimal, the size as decimal text; other monitored
    // names are written as they come. False stops the entity's attributes.
    virtual bool ProcessExternalEntityAttribute(const CSqlEntity& entity, const KvoCore::Int64Set& entityIds,
                                                const CSqlAttribute& attribute);
    // Also ends a wait for external entities.
    void requestExit() override;
    // Forgets what was read of the previous entity; subclasses extend it.
    virtual void ClearEntityAttributeData();

    // --- For the control thread ---
    void SetHighestEntityIdAtStartOfScan(long long id) { m_highestEntityIdAtStartOfScan = id; }
    // Before start(): the scan reads in the idle IO class, after every other
    // reader of the host's disks.
    void SetIoPriorityIdle(bool idle) { m_ioPriorityIdle = idle; }
    long long GetHighestEntityIdAtStartOfScan() const { return m_highestEntityIdAtStartOfScan; }
    // The subscan's scanId (0 without a subscan) and entityType.
    long long GetScanId();
    wxString GetEntityType();
    // The scan's incrementalScan value (0 baseline, 1 incremental, 2 real-time,
    // 3 pseudo-real-time); 0 until the thread has read its scan row.
    int GetScanType() const { return m_scanType.load(); }
    // True when the subscan ran to StepFinished; settled once isRunning() is false.
    bool IsFinished() const { return m_finished.load(); }
    // The thread woken at the end; null once woken.
    KvoCore::CRunnable* GetParent() const { return m_parent.load(); }

    // --- Common operations ---
    // The agent stops, or this thread was asked to exit.
    bool ShouldShutdown();
    // Opens the scanner's connection (path in Keys::kDbPath) and prepares the
    // shared statements once. False, with nothing prepared, when it cannot.
    bool OpenSystemIntegrityDb();
    void CloseSystemIntegrityDb();
    bool IsDbOpen() const;
    // Loads the rule row ruleId into rule; false when there is none.
    static bool GetIntegrityRule(KvoCore::CSqliteDatabase& db, long long ruleId, CSqlIntegrityRule& rule);

    // Scope read by OnThreadStartup: empty means every entity set (rule) of the type.
    const KvoCore::Int64Set& GetEntitySetIdsInScope() const { return m_entitySetIdsInScope; }
    const KvoCore::Int64Set& GetRuleIdsInScope() const { return m_ruleIdsInScope; }
    int GetCommitIntervalMsec() const { return m_commitIntervalMsec; }
    long long GetMinContentSizeForRenameDetection() const { return m_minContentSizeForRenameDetection; }

    // Where an interrupted matching step got to, relative to key of set:
    // 0 unless step is the matching step; -1 without a checkpoint; the
    // difference of the entity-set ids when the checkpoint names another set;
    // else the key comparison (positive: the checkpoint lies beyond key).
    int CompareCheckpointInfoToEntity(int step, const CSqlEntitySet& set, const wxString& key);
    // Sorts keys in the matcher's key order (see CSystemIntegrityKeyMatch::CompareKeys).
    void SortKeys(wxArrayString& keys) const;
    // "monitorLastModified" -> "lastModified"; names without the prefix unchanged.
    static wxString TrimAttributeName(const wxString& name);

    // Read-only file access for content hashing. FileOpenReadonly adds
    // O_NOATIME, and drops it where the kernel refuses it (a file the agent
    // does not own); -1 when the file cannot be opened.
    static int FileOpenReadonly(const wxString& path, int flags);
    static bool FileRead(int fd, void* buffer, unsigned long length, unsigned long& done);
    static void FileClose(int fd);
    static int FileCreateMemoryMapping(int fd);
    static void* FileMemoryMapRegion(int fd, int mapping, unsigned long long offset, unsigned long length);
    static bool FileMemoryUnmapRegion(void* address, unsigned long length);

protected:
    // Takes ownership of subscan.
    CIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan);

    // Sets the next step, clears checkpointInfo, and saves the subscan.
    void SetNextStep(int step);
    // Writes the subscan row now through the prepared update.
    void SaveSubscan();
    // Appends to sets the entity sets of the type within the scan's scope, by entitySetId.
    void LoadEntitySetsInScope(KvoCore::XMLObjectList& sets);
    // One CEF syslog line for a reported event (was: the old version, null for
    // a create; is: the new one, null for a delete), stamped eventTime / 1000
    // seconds, put in the outbox. None while syslog is off.
    void SyslogSend(const CSqlEntity* was, const CSqlEntity* is, int status, int integrityRuleId, int change,
                    const wxString& changedNames, long long eventTime, const wxString& user, const wxString& process);
    // Sends a line from the outbox; false keeps it there for a later try.
    bool SyslogDeliver(const std::string& line, long long timeSeconds);
    // The line for the event at formatLevel; false when it cannot be built (no
    // open database, no rule row, or the entity the change needs is missing).
    bool SyslogFormat(const CSqlEntity* was, const CSqlEntity* is, int status, int integrityRuleId, int change,
                      const wxString& changedNames, const wxString& user, const wxString& process, int formatLevel,
                      std::string& line);

    // Reports a change (1 create, 2 update, 3 delete, 4 rename) as an
    // IntegrityEvents row, or as JSON in event mode 2, then as a syslog line.
    // An update without a reportable difference is no event: the new row is
    // marked eventDropped instead. eventTime 0 means now.
    void ReportIntegrityEvent(const CSqlEntity* was, CSqlEntity* is, int status, int integrityRuleId, int change,
                              long long eventTime, const wxString& user, const wxString& process);
    void ReportDenormalizedIntegrityEvent(const CSqlEntity* was, const CSqlEntity* is, int status,
                                          int integrityRuleId, int change, long long eventTime, const wxString& user,
                                          const wxString& process);
    // One line per changed attribute ("name:" Base64(old) "_" Base64(new)) and
    // the changed names joined by ","; false when nothing reportable changed.
    bool GetUpdatedEventDescription(const CSqlEntity* was, const CSqlEntity* is, wxString& description,
                                    wxString& changedNames);
    void AppendChangeDetails(wxString& description, wxString& changedNames, const wxString& name,
                             const wxString& oldValue, const wxString& oldFriendly, const wxString& newValue,
                             const wxString& newFriendly);
    // Adds the entity's attributes to parent as the array memberName;
    // negative when a JSON object cannot be created, else 0.
    int GetEntityAttributesInJson(const CSqlEntity* entity, wxString memberName, cJSON* parent);
    // The next id of a JSON event, counted across every scanner of the process
    // (the first is 1).
    static long long GetIntegrityEventId();

    // Attribute gathering: opens the transaction when none is open and calls
    // RecordAttribute once per wanted attribute (name -> entity ids).
    void GatherAttributesOfEntity(const wxString& key, const KvoCore::MapStringToInt64Set& attributesOfInterest);
    // One Attributes row per entity id; empty friendly or internal values are stored as NULL.
    void WriteAttribute(const wxString& name, const wxString& value, const wxString& friendlyValue,
                        const KvoCore::Int64Set& entityIds, const wxString& internalValue);
    // TrimAttributeName, remembered per name for the scanner's writes.
    const wxString& StoredAttributeName(const wxString& name);
    bool GetAttribute(long long entityId, const wxString& name, CSqlAttribute& attribute);
    // New entity rows of this scan whose key sorts after the checkpoint, with
    // their entity-set columns, by key. The caller resets the statement.
    wxSQLite3ResultSet GetSubscanEntitys();
    // One pass over the content (through the OnReadContent hooks) into every
    // requested digest; false, with the three digests emptied, when the
    // content cannot be opened, or cannot be read to the end (then
    // m_contentIncomplete is set: a partial read gives no digest).
    // m_contentSize gets the bytes read.
    bool HashContent(const wxString& key, bool md5, bool sha1, bool sha256);
    // Stores the hash of the entity's attribute values in its row.
    void SetAttributeHash(CSqlEntity& entity);
    // Version processing of one new entity row after its attributes are
    // written: the row is dropped when unchanged, linked from its previous
    // version when changed, and reported or marked as a rename candidate
    // when new. True; database errors are thrown.
    bool DoPerEntityIncrementalScanProcessing(CSqlEntity& entity);
    // Loads into previous the oldest current version of current's identity
    // recorded before this scan (previous.m_entityId 0 when none); rows that
    // an interrupted scan left half-done are deleted on the way.
    bool FindPreviousVersionOfEntity(const CSqlEntity& current, CSqlEntity& previous);
    // The one older current entity of the type whose attribute named
    // algorithm holds digest (raw bytes); false when none or several do.
    void TakeDigestSnapshot();
    bool FindMatchingContentHash(const CSqlEntity& entity, const wchar_t* algorithm, std::string digest,
                                 long long& matchingId);
    // The key vanished between matching and gathering: its new rows are
    // removed and the batch emptied, so that a comparing scan reports the
    // older version deleted, once, and a baseline does not record it.
    void DropVanishedEntities(const wxString& key, EntityInfoList& entities);
    // A directory of the set could not be listed: the versions below it stay
    // current instead of being reported deleted (a baseline spares them when
    // it retires the older versions). Returns the number kept now.
    int KeepUnseenEntitiesBelow(long long entitySetId, const wxString& directory);
    // Conditions that spare the versions below the directories a baseline could not list.
    wxString KeptBelowUnlisted() const;
    // Descent pruning, by the type's key matcher.
    bool ShouldDescend(const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                       const KvoCore::Int64Set& includeExcludeIds, const wxString& searchBase,
                       const wxString& key) const;

    // --- External entities (step 350000) ---
    // Records one external entity with its attributes and compares it as a
    // scan would; false ends the step (the end marker, or a database failure,
    // which sets m_externalEntitiesFailed).
    bool ProcessExternalEntity(CSqlEntity* entity);
    // The queue the type's external entities arrive on.
    std::string ExternalEntityQueue();
    // True for the names of the attributes the type's entity sets can monitor ("size", "sha256", ...).
    bool IsMonitoredAttributeName(const wxString& name) const;

    // --- Real-time change processing (step 250000) ---
    // The entity sets a change row names, with their rules' severities. A
    // pass loads each list once: most changes name the same sets.
    struct RealtimeSets {
        KvoCore::Int64Set ids;
        std::unique_ptr<KvoCore::XMLObjectList> sets;
        std::map<long long, int> severities;
    };
    // Null when the list does not parse.
    std::unique_ptr<RealtimeSets> LoadRealtimeSets(const CSqlEntitySet& setTemplate, const wxString& entitySetIds);
    // One changed key: its details condensed and processed in order, then its
    // change rows deleted in the same batch, so that a change is reported once
    // even when the scan is interrupted. A key whose set list did not parse
    // (null sets) is given up. False when its attributes could not be gathered.
    bool ProcessRealtimeChanges(const RealtimeSets* sets, const wxString& keyCanonical);

    // A run of consecutive updates becomes its last detail, which names every
    // user and every process of the run, one per line.
    void CondenseChangeRecords(CSqlRealtimeChangeDetails& details);
    // One detail; false when the key's attributes could not be gathered.
    // changedBy: the detail that names who changed the key after a move
    // (one naming nobody when none follows it); used by a move only.
    bool ProcessRealtimeChange(const wxString& entityType, const wxString& keyCanonical,
                               const KvoCore::Int64Set& entitySetIds, const KvoCore::XMLObjectList& entitySets,
                               const std::map<long long, int>& severities, const CSqlRealtimeChangeDetail& detail,
                               const CSqlRealtimeChangeDetail& changedBy, bool gather);
    // A new row of key per entity set, with its attributes when gather is
    // set; rows of a key that is gone are dropped. False when gathering failed.
    bool CreateNewEntitiesForRealtimeChange(const wxString& entityType, const wxString& key,
                                            const KvoCore::XMLObjectList& entitySets,
                                            const std::map<long long, int>& severities,
                                            const CSqlRealtimeChangeDetail& detail, bool gather,
                                            EntityInfoList& rows);
    // The current path entities below oldKey (in sets that take part in
    // real-time monitoring) move below newKey with their attribute values, or,
    // with an empty newKey, are gone with it. Each is reported.
    void HandleRenamedEntity(const KvoCore::XMLObjectList& entitySets, const wxString& oldKey, const wxString& newKey,
                             const CSqlRealtimeChangeDetail& detail);
    // True when the entity's file or directory set leaves this change out.
    bool CheckOperationFilter(const KvoCore::XMLObjectList& entitySets, int change, const CSqlEntity* entity);
    // was against its new version is (null: gone): true when is changed
    // nothing and is to be dropped; otherwise was is superseded and the
    // change reported with the detail's time, user and process.
    bool SettleRealtimeVersion(const KvoCore::XMLObjectList& entitySets, CSqlEntity& was, CSqlEntity* is, int change,
                               const CSqlRealtimeChangeDetail& detail);
    // A new version of was at the keys given, with was's attribute values;
    // the caller settles was against it.
    void MoveVersion(const CSqlEntity& was, const wxString& keyCanonical, const wxString& key, long long when,
                     CSqlEntity& moved);
    // Whether is holds other attribute values than was (a digest a failed
    // read left unknown counts as unchanged).
    bool VersionChanged(CSqlEntity& was, CSqlEntity& is);
    // The current versions already at a rename's new key give way to is: the
    // first is superseded by it, any other deleted; replaced is already settled.
    void RetireRenameTargets(CSqlEntitys& targets, const CSqlEntity& is, long long replaced);
    void LoadCurrentEntities(const wxString& entityType, const wxString& keyCanonical, CSqlEntitys& entities);
    // The current version of was's set at keyCanonical, when there is one.
    bool VersionRecordedAt(const CSqlEntity& was, const wxString& keyCanonical, CSqlEntity& there);
    // The sets wait for the next incremental scan (their search base changed).
    void QueueIncrementalScanOf(const wxString& entityType, const KvoCore::Int64Set& entitySetIds);
    // Whether a delete notification is checked against the key's present
    // state: a host object that several processes share outlives one of them.
    virtual bool ReexamineDeletedKeys() const { return false; }
    // Whether the last key gathered was there but is not of this scanner's
    // type (a directory, to a file scanner): dropped like one that vanished,
    // though what lies below it is still there.
    virtual bool GatheredAnotherType() const { return false; }

    // Milliseconds since startTick when the stats trace is on and they exceed
    // s_StatsMinMsec; else 0.
    unsigned StatsElapsedMsec(unsigned long startTick) const;
    void TraceStats(const wxString& text) const;
    // Runs what must count only once the batch is in the database: at once
    // outside a transaction, else at its commit; a rollback forgets it.
    void AfterCommit(std::function<void()> action);
    // Sends what the outbox holds, unless a transaction is open.
    void FlushOutbox();
    bool SendOutboxEntry(int channel, long long timeSeconds, const std::string& text);

    // Resets a shared statement and clears its bindings at the end of a scope,
    // also when a database error leaves it.
    class StatementRelease {
    public:
        explicit StatementRelease(wxSQLite3Statement& statement) : m_statement(statement) {}
        ~StatementRelease();
        StatementRelease(const StatementRelease&) = delete;
        StatementRelease& operator=(const StatementRelease&) = delete;

    private:
        wxSQLite3Statement& m_statement;
    };

    CSqlSubscan& Subscan() { return *m_subscan; }
    KvoCore::CSqliteDatabase& Db() { return *m_db; }
    KvoCore::CDom& Dom() { return m_dom; }

    // The statements every hook shares, prepared once per connection; each user
    // resets it and clears its bindings after use.
    struct Statements {
        Statements();
        ~Statements();
        // Each statement with its name, in preparation order.
        std::vector<std::pair<const char*, wxSQLite3Statement*>> List() const;

        std::unique_ptr<wxSQLite3Statement> attributeHash;         // ?1 entityId
        std::unique_ptr<wxSQLite3Statement> copyAttributes;        // ?1 to entityId, ?2 from entityId
        // The empty (unknown) digest values of ?1 set to the known ones of ?2.
        std::unique_ptr<wxSQLite3Statement> fillUnknownDigests;
        std::unique_ptr<wxSQLite3Statement> deleteEntity;          // by entityId
        std::unique_ptr<wxSQLite3Statement> deleteRealtimeChange;  // ?1 entityType, ?2 keyCanonical
        // ?1 entityId below, ?2 entityType, ?3 attribute name, ?4 attribute value
        std::unique_ptr<wxSQLite3Statement> entityIdsWithAttributeValue;
        // ?1 entityId below, ?2 keyCanonical, ?3 entityType, ?4 entitySetId, ?5 integrityRuleId
        std::unique_ptr<wxSQLite3Statement> olderEntityNotSeenAgain;
        std::unique_ptr<wxSQLite3Statement> olderCurrentEntitiesNewestFirst;
        std::unique_ptr<wxSQLite3Statement> previousVersionsOfEntity;
        std::vector<int> previousVersionsColumns;  // its columns for CSqlEntity, found at its first row
        std::unique_ptr<wxSQLite3Statement> attributesOfTwoEntities;     // ?1, ?2 entityId
        std::unique_ptr<wxSQLite3Statement> attributesOfEntity;          // ?1 entityId
        std::unique_ptr<wxSQLite3Statement> attributeOfEntity;           // ?1 entityId, ?2 name
        std::unique_ptr<wxSQLite3Statement> currentEntitiesAtKey;        // ?1 entityType, ?2 keyCanonical
        std::unique_ptr<wxSQLite3Statement> realtimeChangeKeys;          // ?1 entityType
        std::unique_ptr<wxSQLite3Statement> realtimeChangeDetailsOfKey;  // ?1 entityType, ?2 keyCanonical
        // ?1 entityId above, ?2 keyCanonical above, ?3 entityType
        std::unique_ptr<wxSQLite3Statement> subscanEntitys;
        std::unique_ptr<wxSQLite3Statement> insertAttribute;
        std::unique_ptr<wxSQLite3Statement> insertEntity;
        std::unique_ptr<wxSQLite3Statement> insertIntegrityEvent;
        std::unique_ptr<wxSQLite3Statement> updateAttributeHash;  // ?1 hash, ?2 whenScanned, ?3 entityId
        std::unique_ptr<wxSQLite3Statement> updateEntity;
        std::unique_ptr<wxSQLite3Statement> updateSupercededBy;  // ?1 supercededBy (or NULL), ?2 entityId
        std::unique_ptr<wxSQLite3Statement> updateSubscan;
    };
    // Valid while the database is open.
    Statements& Stmt() { return *m_statements; }

    std::atomic<bool> m_finished{false};
    bool m_traceStats;
    bool m_trace = false;
    const wchar_t* m_hashAlgorithm = L"sha1";
    wxMemoryBuffer m_attributeHash{20};
    int m_commitIntervalMsec = 0;
    bool m_ioPriorityIdle = false;
    bool m_digestSnapshotTaken = false;
    long long m_highestEntityIdAtStartOfScan = 0;
    KvoCore::Int64Set m_entitySetIdsInScope;
    KvoCore::Int64Set m_ruleIdsInScope;
    long long m_minContentSizeForRenameDetection = 17;
    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    // The batch open on m_db (declared after it, so it ends first).
    std::optional<KvoCore::CSqliteTransaction> m_transaction;
    std::atomic<KvoCore::CRunnable*> m_parent{nullptr};
    std::unique_ptr<CSqlSubscan> m_subscan;
    wxMutex m_subscanMutex;
    std::atomic<int> m_scanType{0};
    std::unique_ptr<Statements> m_statements;
    KvoCore::CSyslogger m_syslog;
    // Events of committed batches still to be sent; valid while the database is open.
    std::unique_ptr<CEventOutbox> m_outbox;
    std::vector<std::function<void()>> m_afterCommit;
    // Keys the attribute step, or real-time processing, skipped after repeated
    // database errors (or, real-time, an unreadable entity-set list).
    std::set<wxString> m_givenUpKeys;
    // Directories a baseline could not list ("dir/"), by entity set.
    std::vector<std::pair<long long, wxString>> m_unlistedBelow;
    // Raw digests of the last HashContent, and the bytes it read.
    std::string m_md5;
    std::string m_sha1;
    std::string m_sha256;
    long long m_contentSize = 0;
    // The content of the current key could not be read to the end: its wanted
    // digests are recorded as unknown (empty), and its version carries the
    // digests of the previous one.
    bool m_contentIncomplete = false;
    // A database failure ended the reception of external entities.
    bool m_externalEntitiesFailed = false;
    // Set while the thread waits on its external-entity queue, so that a stop request wakes it.
    std::atomic<bool> m_waitingForExternalEntities{false};
    // Per-entity scratch texts, emptied by ClearEntityAttributeData.
    wxString m_entityScratch[6];
    // The record WriteAttribute inserts, and the names it stores by monitor name.
    CSqlAttribute m_attributeRow;
    std::vector<std::pair<wxString, wxString>> m_storedAttributeNames;
    // Scratch texts of event formatting, kept to spare allocations per event.
    std::string m_eventNarrow[3];
    wxString m_eventWide[6];

private:
    struct GatherProgress;

    void ApplyIoPriority();
    enum class GatherResult { KeyDone, StepDone, StepFailed };

    bool RunStep(int step);
    // The attribute step, one key (batch) at a time.
    GatherResult GatherNextKey(GatherProgress& progress, wxString& key);
    // The entity rows of the next key; the sets they point to stay in progress.
    void LoadNextBatch(GatherProgress& progress, EntityInfoList& batch, wxString& key);
    // False when the step must fail.
    bool OnGatherFailure(GatherProgress& progress, const wxString& key, const wxString& reason);
    void CommitOpenTransaction();
    void RollbackOpenTransaction();
    bool MatchEntitySet(const KvoCore::XMLObjectList& sets, const CSqlEntitySet& set);
    // "AND [column] IN (...)" for the entity sets and rules in scope, empty where all are.
    wxString ScopeFilters(const wxString& entitySetIdColumn, const wxString& ruleIdColumn) const;
    void DeprecateEntitiesBeforeBaseline();
    // Comparing scans: versions that the scan must see again are set to 0;
    // afterwards those not seen are deleted or moved, and content copies reported.
    void MarkCurrentEntitiesUnseen();
    bool FindRenameSource(const CSqlEntity& entity, long long& original);
    // False when the scanner must shut down first.
    bool DetectDeletesAndRenames();
    void SettleUnseenEntity(CSqlEntity& old);
    void ReportCopiedEntities();
    // Versions of keys the attribute step gave up on stay current, and the
    // unfinished rows of those keys go.
    void KeepGivenUpKeysCurrent();
    void MarkDeleted(CSqlEntity& old);
    void ReportCreated(CSqlEntity& entity);
    // The rule's change statistic, counted once the change is committed.
    void CountRuleChange(long long integrityRuleId);
    void BeginTransaction();
    void UpdateEntityRow(CSqlEntity& entity);
    // Writes only the row's supercededBy: a version's outcome changes nothing else of it.
    void UpdateSupercededBy(const CSqlEntity& entity);
    void DeleteEntityRow(long long entityId);
    // Gives the digests that to holds as unknown (empty) the values that
    // from knows; the number filled.
    int FillUnknownDigests(long long to, long long from);
    // Stores the entity's attribute hash anew, keeping its whenScanned.
    void RehashEntity(CSqlEntity& entity);
    void RunSteps();
    void PrepareStatements();
    // Undoes what an exception left behind: open transaction, connection.
    void DiscardDbAfterException();
    bool LoadScanType();
    void LoadRuleIdsInScope();
    void AddEntitySetIds(const wxString& sql);
    bool IsSubscanFinished() const;
    std::string EntityTypeAscii();

    KvoCore::CDom m_dom;

    static std::mutex s_integrityEventIdMutex;
    static long long s_integrityEventId;
};

}  // namespace KvoPluginIm

// Inside the scanner's members: traces under its own category when that was on
// at the start of OnRun.
#define KVO_SCANNER_TRACE(...)                                                                                         \
    do {                                                                                                               \
        if (m_trace) ::KvoCore::LogTrace(GetTraceMask(), __FILE__, __LINE__, __func__, wxString::Format(__VA_ARGS__)); \
    } while (0)
