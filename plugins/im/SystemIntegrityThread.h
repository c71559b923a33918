// CSystemIntegrityThread: the control thread of integrity monitoring.
//
// One instance per agent, created from Lua ("SLB.im.ImThread"); it is not a
// thread class of its own but runs on whatever agent thread calls main().
// It owns the control connection to si.db (and the statement prepared on it),
// the settings read from the agent configuration, and, once orchestration
// exists, the scanner threads it creates. Its members are used by that one
// thread only; the static counters may be called from any thread.
#pragma once

#include <atomic>
#include <deque>
#include <list>
#include <memory>

#include <wx/filename.h>
#include <wx/string.h>
#include <wx/thread.h>

#include "core/Dom.h"
#include "core/Utilities.h"

class wxSQLite3Statement;

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoPluginIm {

class CIntegrityScanThread;
class CSystemIntegrityOnChangeThreadLegacy;

// ScanningEventMode, the process-wide event mode: 0 until settings were first
// read, then 1 or 2 (2: denormalized integrity events).
int GetEventMode();

class CSystemIntegrityThread {
public:
    // Needs the process's agent object (CDom::This()); throws
    // std::runtime_error when there is none.
    CSystemIntegrityThread();
    // Closes the database; stopping scanners is OnExit's job, not this one's.
    ~CSystemIntegrityThread();
    CSystemIntegrityThread(const CSystemIntegrityThread&) = delete;
    CSystemIntegrityThread& operator=(const CSystemIntegrityThread&) = delete;

    // Reads the settings of "/SecurityConfiguration/AgentConfiguration";
    // absent or unparsable values give the defaults.
    void UpdateSettingsFromConfig();

    // Opens (once) the control connection to the file named by "zel.im.dbPath"
    // and prepares the rules-without-entities statement on it. True when the
    // connection is open; a failure leaves nothing behind.
    bool OpenSystemIntegrityDb();
    void CloseSystemIntegrityDb();

    // The anchored regular expression of a glob (see CGlobTranslator), for
    // this agent's host path format.
    wxString PatternToRegEx(const wxString& pattern, wxPathFormat splitFormat, bool matchDescendants,
                            bool hierarchical) const;

    // Counters of the entity table, kept in the module's metrics.
    static void IncEntitiesTotalCount();
    static void IncEntitiesDeletedCount(int n);
    static void IncEntitiesSupercededCount();
    static void IncMarkersCreatedCount();
    static void IncMarkersDeletedCount(int n);
    static void IncIncompleteDeletedCount(int n);

    // Settings and limits as they stand.
    bool AllowOnChange() const { return m_bAllowOnChange; }
    bool IsVmSafeGuest() const { return m_bVmSafeGuest; }
    int FreeMbMin() const { return m_freeMbMin; }
    int OnChangeBackoffMax() const { return m_onChangeBackoffMax; }
    int OnChangeBackoffMin() const { return m_onChangeBackoffMin; }
    int CpuLimit() const { return m_cpuLimit; }
    const wxString& ContentShortHandMapping() const { return m_contentShortHandMapping; }
    long long ScannersRunningLimit() const { return m_scannersRunningLimit; }

    static const char* const s_Trace;  // "zel.im.ImThread"
    static constexpr int s_NumOldScansToKeep = 5;
    // The free-disk minimum for which the low-disk warning was last given.
    static int s_WarnedOfLowDiskMb;

    // Queries
    //
    // Each runs on its caller's thread with a connection of its own on
    // "zel.im.dbPath". A result is a new object owned by the caller; null (or 0)
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
    // 1..20000. Events up to lastEventId minus "zel.im.eventsToRetain" are deleted.
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
    // GetStatus calls in event mode 2, counted up to 3; process-wide.
    static std::atomic<int> s_DenormalizedHeartbeat;

private:
    static const KvoCore::CDom& TheAgent();
    static long long ComputeScannersRunningLimit(const KvoCore::CDom& dom);
    void PrepareStatements();

    bool m_bRulesChanged = true;
    bool m_bAllowOnChange = true;
    bool m_bVmSafeGuest = false;
    KvoCore::Int64Set m_incrementalRuleIds;
    int m_freeMbMin = 5;
    int m_onChangeBackoffMax = 30000;
    int m_onChangeBackoffMin = 5000;
    int m_cpuLimit = 100;
    wxString m_contentShortHandMapping = "sha1";
    KvoCore::CDom m_dom;
    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    // Scanner threads are owned through these raw pointers: OnExit stops and
    // deletes them, never the destructor.
    std::list<CIntegrityScanThread*> m_runningScanners;
    long long m_scannersRunningLimit = 1;
    std::deque<CIntegrityScanThread*> m_scannerQueue;
    long long m_lastPseudoRealtimeDuration = 0;
    unsigned int m_lastPseudoRealtimeTick;
    long long m_pseudoRealtimeGate = -1;
    // Lists the rules that have no entity row; lives as long as the connection.
    std::unique_ptr<wxSQLite3Statement> m_rulesWithoutEntities;
    wxMutex m_legacyLock{wxMUTEX_RECURSIVE};
    CSystemIntegrityOnChangeThreadLegacy* m_legacyThread = nullptr;

    // Queries
    // Set by the first purge call in event mode 2 since the module was loaded.
    static std::atomic<bool> s_bDenormalizedPurgeArmed;
    unsigned int m_lastPurgeTick = 0;  // control thread only
};

}  // namespace KvoPluginIm
