// CSystemIntegrityThread: the control thread of integrity monitoring.
//
// One instance per agent, created from Lua ("SLB.im.ImThread"); it is not a
// thread class of its own but runs on whatever agent thread calls main().
// It owns the control connection to si.db (and the statement prepared on it),
// the settings read from the agent configuration, and the scanner threads it
// creates. Its members are used by that one thread only; the queries and the
// static counters may be called from any thread.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include <wx/filename.h>
#include <wx/string.h>
#include <wx/thread.h>

#include "core/Dom.h"
#include "core/Utilities.h"
#include "plugins/im/StateKeys.h"

class wxSQLite3Statement;

namespace KvoCore {
class CRunnable;
class CSqliteDatabase;
class XMLObjectList;
}

namespace KvoPluginIm {

class CIntegrityScanThread;
class CSystemIntegrityOnChangeThreadLegacy;
class CSqlScan;
class CSqlSubscan;
class CIntegrityRule;
class CEntitySet;
class CFileOrDirSet;
class CFileSet;
class CGroupSet;
class CInstalledSoftwareSet;
class CPortSet;
class CProcessSet;
class CUserSet;
class CSqlEntitySet;
class CSqlDirectoryEntitySet;
class CSqlFileEntitySet;
class CSqlGroupEntitySet;
class CSqlInstalledSoftwareEntitySet;
class CSqlPortEntitySet;
class CSqlProcessEntitySet;
class CSqlUserEntitySet;
class CSqlIntegrityRule;
class CSqlIntegrityRules;
class CIntegrityRules;

// ScanningEventMode, the process-wide event mode: 0 until settings were first
// read, then 1 or 2 (2: denormalized integrity events).
int GetEventMode();

class CSystemIntegrityThread {
public:
    // --- Lifecycle ---

    // Needs the process's agent object (CDom::This()); throws
    // std::runtime_error when there is none.
    CSystemIntegrityThread();
    // Closes the database; stopping scanners is OnExit's job, not this one's.
    ~CSystemIntegrityThread();
    CSystemIntegrityThread(const CSystemIntegrityThread&) = delete;
    CSystemIntegrityThread& operator=(const CSystemIntegrityThread&) = delete;

    // main() runs OnRun(), the control loop, and then OnExit() on the calling
    // thread until the agent stops. Call it on a CRunnable: scanners wake that
    // thread when they end, so a finished scan is closed at once rather than
    // after the idle sleep.
    void main();
    void OnRun();
    // Deletes queued scanners, stops running ones, closes the database and
    // forgets the missed real-time changes.
    void OnExit();
    // Before main(), after a virtual-machine migration: while the plug-in's
    // "vmotion" directory holds "saving", drops what interrupted scans recorded
    // and waits (at most 3 minutes) for the stop; after a move ("kvo.vmotioned"),
    // waits until "restoring" is gone and the configuration was read again.
    void HandleVmotionStartup();

    // --- Settings ---

    // Reads the settings of "/SecurityConfiguration/AgentConfiguration";
    // absent or unparsable values give the defaults.
    void UpdateSettingsFromConfig();
    bool AllowOnChange() const { return m_bAllowOnChange; }
    bool IsVmSafeGuest() const { return m_bVmSafeGuest; }
    int FreeMbMin() const { return m_freeMbMin; }
    int OnChangeBackoffMax() const { return m_onChangeBackoffMax; }
    int OnChangeBackoffMin() const { return m_onChangeBackoffMin; }
    int CpuLimit() const { return m_cpuLimit; }
    const wxString& ContentShortHandMapping() const { return m_contentShortHandMapping; }
    long long ScannersRunningLimit() const { return m_scannersRunningLimit; }

    // --- Database connection ---

    // Opens (once) the control connection to the file named by Keys::kDbPath
    // and prepares the rules-without-entities statement on it. True when the
    // connection is open; a failure leaves nothing behind.
    bool OpenSystemIntegrityDb();
    void CloseSystemIntegrityDb();
    // Lists (integrityRuleId, name) of the rules that have no entity row at all;
    // prepared once per connection, null while none is open. Reset it after use.
    wxSQLite3Statement* GetRulesWithoutEntitiesStatement() const { return m_rulesWithoutEntities.get(); }

    // --- Scan orchestration ---

    // Values of incrementalScan in "Scans", and the scan type of a scanner.
    enum ScanType : int { ScanBaseline = 0, ScanIncremental = 1, ScanRealtime = 2, ScanPseudoRealtime = 3 };
    // Creates the scan the need flags ask for (a baseline, else incremental,
    // else pseudo-real-time, else real-time changes): its row, scope rows and
    // one subscan per entity type, then queues their scanners. A scan with
    // nothing in scope is closed at once. Clears the flags it served; a
    // database error leaves them for the next try.
    void InitiateScan();
    // Queues a scanner for every unfinished subscan of every open scan, each to
    // start over at step 0; the number queued. A subscan whose type has no
    // scanner is deleted with a warning.
    int QueueIncompleteScanners();
    // Deletes what open (interrupted) scans recorded, and those scans.
    void DeleteIncompleteScanData();
    // Agent events of a completed scan (8000, 8001 with 8015, 8002); duration
    // becomes the scan's length in milliseconds.
    void GenerateScanCompletedEvent(long long scanId, long long& duration);
    // The entityId the next entity row gets, found with a marker row.
    long long GetCurrentHighestEntityId();
    // Stops and deletes the running scanners; deletes the queued ones.
    void StopScannerThreads();
    void DeleteScannersWaiting();
    size_t RunningScannerCount() const { return m_runningScanners.size(); }
    size_t QueuedScannerCount() const { return m_scannerQueue.size(); }

    // --- Rule storage and rule change detection ---

    // Compares the configured rules with the stored ones, retires the entities
    // of changed and removed rules and stores new and changed rules, all in one
    // transaction on the control connection; scanners must be stopped first.
    // Rules to rebuild land in IncrementalRuleIds(), and Keys::kNeedRebuildBaseline
    // is set. A database error rolls the pass back and leaves Keys::kRulesChanged
    // set, so that the loop tries again.
    void OnRulesChanged();
    // Sets Keys::kRulesChanged when the stored rules differ from the configured ones.
    void OnStartupConfigCheck();
    // The configuration became empty: stops scanners, forgets all rules, entities, scans and events.
    void OnDeactivated();
    // Rebuilds the module's rule-name table from the stored rules, on a connection of its own.
    static void GetNames(KvoCore::CDom& dom);

    // Storing one rule as rows. Run inside the caller's transaction on an open
    // connection; database errors propagate. Problems in the rule become agent
    // events 8003 to 8011 and set the rule-problem flag.
    void AddRuleToDb(const CIntegrityRule& rule);
    // Each is true when the set's row was written.
    bool PopulateEntitySet(const CIntegrityRule& rule, const CFileSet& set, CSqlFileEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CFileOrDirSet& set, CSqlDirectoryEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CGroupSet& set, CSqlGroupEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CInstalledSoftwareSet& set,
                           CSqlInstalledSoftwareEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CPortSet& set, CSqlPortEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CProcessSet& set, CSqlProcessEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CUserSet& set, CSqlUserEntitySet& record);
    bool PopulateEntitySet(const CIntegrityRule& rule, const CEntitySet& set, CSqlEntitySet& record);
    using DirectorySetter = void (CSqlDirectoryEntitySet::*)(const wxString&);
    // Search base and expression of a base directory; false when it is unusable
    // (events 8003 and 8004 only when report is set).
    bool PopulateSearchBaseInfo(const CIntegrityRule& rule, const wxString& base, bool checkBase, bool report,
                                CSqlDirectoryEntitySet& record, DirectorySetter setKey, DirectorySetter setSearchBase,
                                DirectorySetter setRegEx) const;
    // list holds CInclude (exclude false) or CExclude (exclude true) elements.
    void PopulateIncludeExcludes(const CIntegrityRule& rule, const CSqlEntitySet& record,
                                 const KvoCore::XMLObjectList& list, bool exclude);
    void PopulatePattern(long long includeExcludeId, const wxString& pattern, const wxString& caseSensitiveText,
                         bool hierarchical);
    void PopulateFeature(long long includeExcludeId, const wxString& name, const wxString& value,
                         const wxString& caseSensitiveText);
    // The anchored regular expression of a glob (see CGlobTranslator), for
    // this agent's host path format.
    wxString PatternToRegEx(const wxString& pattern, wxPathFormat splitFormat, bool matchDescendants,
                            bool hierarchical) const;

    // Rule comparisons against the stored rows and settings.
    bool RuleExpansionDiffers(const CIntegrityRule& rule) const;
    bool RuleExpansionDiffersFileOrDir(const CIntegrityRule& rule, size_t setsInXml, const wxString& table) const;
    bool RuleHashesDiffer(const CIntegrityRule& rule, const wxString& oldMapping, const wxString& newMapping) const;
    bool RuleHashesDiffer(const KvoCore::XMLObjectList& sets, const wxString& oldMapping,
                          const wxString& newMapping) const;
    // True when a file set of the rule monitors md5 by name.
    bool RuleHashesScan(const CIntegrityRule& rule) const;
    bool RuleHashesScan(const KvoCore::XMLObjectList& sets) const;
    // Sets supercededBy to -1 on the entity rows matching where, after one
    // retirement event (change 5) per run of consecutive ids; returns the rows changed.
    static int MarkExistingEntitiesAsDeprecated(KvoCore::CSqliteDatabase& db, const wxString& where);

    // A rule problem was reported while the rules were last stored.
    bool HasRuleProblem() const { return m_bRuleProblem; }
    // Rules the next scan is limited to: those a rule change needs rescanned,
    // or those named for an incremental scan; empty means all.
    const KvoCore::Int64Set& IncrementalRuleIds() const { return m_incrementalRuleIds; }
    unsigned int LastPseudoRealtimeTick() const { return m_lastPseudoRealtimeTick; }
    long long PseudoRealtimeGate() const { return m_pseudoRealtimeGate; }
    // Whether the crypto library runs in FIPS mode (or the test's pretence).
    static bool IsFipsModeEnabled();

    // --- Queries ---
    //
    // Each runs on its caller's thread with a connection of its own on
    // Keys::kDbPath. A result is a new object owned by the caller; null (or 0)
    // means refused while a scan runs, or failed: message says why, status
    // becomes 500 when si.db cannot be used.
    //
    // Entity versions after lastId, at most maxCount (a CEntitys); first deletes
    // the superseded and deleted versions up to lastId, which the caller holds.
    static KvoCore::XMLObject* GetEntities(KvoCore::CDom& dom, long long lastId, int maxCount, int& status,
                                           wxString& message);
    // Integrity events after lastEventId, never one that refers to an entity id
    // above maxEntityId (0: any). recordedFrom or recordedTo above 0 select a
    // time window (a CSqlIntegrityEvents with every column, served during
    // scans); otherwise pages by id (a CIntegrityEvents). limit is kept to
    // 1..20000. Events up to lastEventId minus Keys::kEventsToRetain are deleted.
    static KvoCore::XMLObject* GetEvents(KvoCore::CDom& dom, long long lastEventId, long long maxEntityId,
                                         long long recordedFrom, long long recordedTo, int limit, int& status,
                                         wxString& message);
    // A CImScanStatus, never null; counts s_DenormalizedHeartbeat in event mode 2.
    static KvoCore::XMLObject* GetStatus(KvoCore::CDom& dom);
    // Writes the current entity versions to "im_baseline.txt" in the plug-in's
    // working directory; the number written. message: the file, or why none was written.
    static int DumpBaseline(KvoCore::CDom& dom, wxString& message);
    // "lastModified", "created" and "lastAccessed".
    static bool IsTimestampAttribute(const wxString& name);
    // Control thread only, on its own connection: in event mode 2, deletes the
    // superseded and deleted entity versions, at most once a minute and only
    // after three GetStatus calls since its first call. The second form takes
    // the tick (milliseconds, 32-bit wrapping) instead of reading it.
    void purgeEntitiesInDenormalizedMode();
    void purgeEntitiesInDenormalizedMode(unsigned int now);

    // --- Counters of the entity table, kept in the module's metrics (any thread) ---

    static void IncEntitiesTotalCount();
    static void IncEntitiesDeletedCount(int n);
    static void IncEntitiesSupercededCount();
    static void IncMarkersCreatedCount();
    static void IncMarkersDeletedCount(int n);
    static void IncIncompleteDeletedCount(int n);

    // --- Seams for tests ---

    // The factory makes the scanner of a subscan (null: none for its type); by
    // default CIntegrityScanThread::CreateIntegrityScanThread. The probe gives
    // the free bytes of the file system holding a path, false when unknown; by
    // default wxGetDiskSpace.
    using ScannerFactory = std::function<CIntegrityScanThread*(KvoCore::CDom&, KvoCore::CRunnable* parent,
                                                               CSqlSubscan* subscan)>;
    using DiskSpaceProbe = std::function<bool(const wxString& path, unsigned long long& freeBytes)>;
    void SetScannerFactory(ScannerFactory factory) { m_scannerFactory = std::move(factory); }
    void SetDiskSpaceProbe(DiskSpaceProbe probe) { m_diskSpaceProbe = std::move(probe); }
    // Test hosts have no FIPS provider: 0 or 1 pretends the crypto library is
    // out of or in FIPS mode; -1 asks the library again.
    static void SetFipsModeForTesting(int mode);

    // --- Process-wide values ---

    static const char* const s_Trace;  // Keys::kTraceImThread
    static constexpr int s_NumOldScansToKeep = 5;
    // The free-disk minimum for which the low-disk warning was last given
    // (control thread; it outlives one instance so a restart does not repeat it).
    static int s_WarnedOfLowDiskMb;
    // GetStatus calls in event mode 2, counted up to 3 (any thread).
    static std::atomic<int> s_DenormalizedHeartbeat;

private:
    // --- Settings and connection ---
    static const KvoCore::CDom& TheAgent();
    static long long ComputeScannersRunningLimit(const KvoCore::CDom& dom);
    void PrepareStatements();
    bool EnsureDbOpen();

    // --- Control loop ---
    struct LoopState;  // what OnRun keeps across iterations
    struct Harvest;    // what the harvest of ended scanners found
    void PrepareLoop(LoopState& loop);
    bool RunIteration(LoopState& loop, unsigned int& sleepMs);
    void HarvestScanners(Harvest& harvest);
    bool HandleConfigRemoved(LoopState& loop);
    bool HandleScanAborted(LoopState& loop);
    void WatchDiskSpace(LoopState& loop);
    void StartQueuedScanners();
    bool RetryOrCompleteScan(LoopState& loop, const Harvest& harvest);
    void ProcessRulesOrSchedule(LoopState& loop, unsigned int& sleepMs);
    void CheckControlFiles();
    void LoadIncrementalRuleIds();
    void NoteOnChangeData(LoopState& loop);
    bool AnyNeedFlag() const;
    void KeepLegacyThread(const LoopState& loop);
    // Stops and deletes the legacy real-time thread, if any.
    void StopLegacyThread();
    long long ConditionCount(const char* name) const;
    // A state-store flag: false when unset.
    bool Flag(const char* key) const;
    void WaitWhileSaving(const wxString& savingFile);
    void WaitForRestore(const wxString& restoringFile);

    // --- Scan orchestration ---
    void CountEntitiesAtStart();
    void CompleteScan(long long scanId, int scanType);
    void CompleteScansWithoutScanners();
    // Scanners of scanId queued or running.
    int ScannersQueuedFor(long long scanId) const;
    void PruneOldScans(long long scanId);
    bool EntitySetsWaiting();
    void VacuumIfSparse();
    // InitiateScan; false when a database error left the need flags set.
    bool TryInitiateScan();
    int ChooseScanType() const;
    long long InsertScanRow(int type);
    bool AttachScanScope(long long scanId, int type, bool& hasRuleList);
    int AttachPendingEntitySets(long long scanId);
    int AttachOnChangeRules(long long scanId);
    int CreateSubscans(long long scanId, int type, bool loadTest);
    int CreateEntitySetSubscans(long long scanId, int type, bool loadTest);
    void InsertSubscan(long long scanId, const wxString& entityType, bool loadTest);
    // Sets endTime and endingHighestExistingEntityId of the scan, inside the caller's transaction.
    void EndScanRow(long long scanId);
    void CloseEmptyScan(long long scanId, int type, bool hasRuleList);
    void RaiseScanCompleted();
    void LoadIncompleteSubscans(std::vector<std::unique_ptr<CSqlSubscan>>& subscans);
    CIntegrityScanThread* CreateScanner(CSqlSubscan* subscan);
    void DropUnsupportedSubscan(CSqlSubscan& subscan);
    unsigned int CountScanChanges(const CSqlScan& scan);
    bool ReportRulesWithoutEntities(long long scanId);

    // --- Rule storage and rule change detection ---
    void CompareStoredRules(CSqlIntegrityRules& stored, const CIntegrityRules& configured, bool mappingChanged,
                            const wxString& oldMapping, KvoCore::Int64Set& unchanged, KvoCore::Int64Set& retired);
    bool StoredRuleChanged(const CSqlIntegrityRule& stored, const CIntegrityRule& configured, bool mappingChanged,
                           const wxString& oldMapping) const;
    void RetireStoredRule(CSqlIntegrityRule& stored, bool stillConfigured, KvoCore::Int64Set& retired);
    void RetireEntitiesOfRules(const KvoCore::Int64Set& retired);
    void StoreConfiguredRules(const CIntegrityRules& configured, const KvoCore::Int64Set& unchanged);
    void ReportDeprecatedHashes(const CIntegrityRule& rule);
    void FlagRulesForBaseline(size_t configuredRules);
    void AfterRulesCommitted(bool ruleProblem);
    static bool RuleHeaderDiffers(const CIntegrityRule& stored, const CIntegrityRule& configured);
    // Adds the names "contents" stands for under mapping ("sha1" when empty).
    static void AddContentNames(const wxString& mapping, KvoCore::WxStringSet& names);
    template <typename TSet, typename TRecord>
    void StoreSets(const CIntegrityRule& rule, const KvoCore::XMLObjectList& sets);
    bool PopulateFileOrDirSet(const CIntegrityRule& rule, const CFileOrDirSet& set, CSqlDirectoryEntitySet& record,
                              const KvoCore::WxStringSet& monitored);
    void CountAndSetMonitorColumns(CSqlEntitySet& record, const KvoCore::WxStringSet& monitored);
    void ReportSetProblems(const CIntegrityRule& rule, const CEntitySet& set);
    bool ExpandBaseVariables(const CIntegrityRule& rule, wxString& path, bool report) const;
    // Writes an agent event about the rule and raises the rule-problem flag.
    void ReportRuleProblem(int id, const wxString& text) const;

    // Every data member below belongs to the control thread (the one that
    // runs main()) unless its note says otherwise.

    // --- Settings ---
    bool m_bAllowOnChange = true;
    bool m_bVmSafeGuest = false;
    int m_freeMbMin = 5;
    int m_onChangeBackoffMax = 30000;
    int m_onChangeBackoffMin = 5000;
    int m_cpuLimit = 100;
    bool m_bIoPriorityIdle = false;
    wxString m_contentShortHandMapping = "sha1";
    long long m_scannersRunningLimit = 1;
    KvoCore::CDom m_dom;

    // --- Database connection ---
    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    // Lists the rules that have no entity row; lives as long as the connection.
    std::unique_ptr<wxSQLite3Statement> m_rulesWithoutEntities;
    // A write of the control thread failed for want of space: measure at once.
    bool m_bWriteFailedFull = false;

    // --- Scan orchestration ---
    // Scanner threads are owned through these raw pointers: OnExit stops and
    // deletes them, never the destructor.
    std::list<CIntegrityScanThread*> m_runningScanners;
    std::deque<CIntegrityScanThread*> m_scannerQueue;
    ScannerFactory m_scannerFactory;
    DiskSpaceProbe m_diskSpaceProbe;
    long long m_lastPseudoRealtimeDuration = 0;
    unsigned int m_lastPseudoRealtimeTick;
    long long m_pseudoRealtimeGate = -1;
    // Guards m_legacyThread, which the on-change thread's owner may change.
    wxMutex m_legacyLock{wxMUTEX_RECURSIVE};
    CSystemIntegrityOnChangeThreadLegacy* m_legacyThread = nullptr;

    // --- Rule storage and rule change detection ---
    bool m_bRulesChanged = true;
    KvoCore::Int64Set m_incrementalRuleIds;
    // Mutable: the search-base computation is const so that the expansion
    // check can share it, and when storing it reports problems through this flag.
    mutable bool m_bRuleProblem = false;
    // -1 asks the crypto library; set by tests before any thread runs.
    static int s_FipsModeForTesting;

    // --- Queries ---
    // Set by the first purge call in event mode 2 since the module was loaded (any thread).
    static std::atomic<bool> s_bDenormalizedPurgeArmed;
    unsigned int m_lastPurgeTick = 0;
};

}  // namespace KvoPluginIm
