// CSystemIntegrityOnChangeThread: the real-time change object. The agent's
// scripts feed it notifications (Change) and call Update periodically; it
// keeps the changes that concern an on-change entity set in a cache attached
// to si.db as "onChange", coalesces like changes of one key, and moves keys
// that have gone quiet into "RealtimeChanges" and "ChangeDetails", raising
// Keys::kOnChangeDataAvailable for the real-time scan.
//
// Not a thread of its own: it runs on its callers' threads. Open, Update,
// Close and every notification hold its recursive mutex, so any number of Lua
// threads may call it at once; GetDirList reads the loaded sets without it.
// Owns its database connection, statements and process cache.
#pragma once

#include <map>
#include <memory>

#include <lua.hpp>
#include <wx/string.h>
#include <wx/thread.h>

#include "core/Utilities.h"
#include "core/hmd/HostMetaData.h"
#include "plugins/im/DirectoryIntegrityKeyMatch.h"
#include "plugins/im/EntityTypeInfo.h"
#include "plugins/im/FileIntegrityKeyMatch.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlProcessEntitySet.h"
#include "plugins/im/SystemIntegrityProcessScannerThread.h"

class wxSQLite3Statement;

namespace KvoCore {
class CDom;
class CSqliteDatabase;
}  // namespace KvoCore

namespace KvoPluginIm {

class CSystemIntegrityOnChangeThread {
public:
    static const char* const s_Trace;  // Keys::kTraceScannerOnChange

    // Change codes of ChangeDetails and of OnEntityChanged.
    enum Change { kNone = 0, kCreate = 1, kUpdate = 2, kDelete = 3, kRename = 4, kBaseChanged = -1000000 };

    CSystemIntegrityOnChangeThread(KvoCore::CDom& dom, int settleTimeMs, int maxDelayMs);
    virtual ~CSystemIntegrityOnChangeThread();
    CSystemIntegrityOnChangeThread(const CSystemIntegrityOnChangeThread&) = delete;
    CSystemIntegrityOnChangeThread& operator=(const CSystemIntegrityOnChangeThread&) = delete;

    // Opens si.db and a fresh cache; on failure every notification is dropped.
    void Open();
    // Housekeeping; the milliseconds after which the caller calls it again.
    unsigned int Update();
    void Close();

    // Lua: (target, notification table); pushes true. Raises "Expected event"
    // for a non-table and the option error for an unknown operationType.
    int Change(lua_State* L);
    // Lua: (object, [dirs], [extensions]); returns the two watch tables.
    int GetDirList(lua_State* L);

    // Records one change; false when nothing was written into the cache.
    virtual bool OnEntityChanged(const KvoCore::CHostMetaData& entity, int change, long long time, const wxString& user,
                         const wxChar* processName, const wxChar* pid);

    bool IsIncluded(const wxString& type, const wxString& key, KvoCore::Int64Set& ids, int& reason) const;
    bool IsIncluded(const KvoCore::CHostMetaData& entity, KvoCore::Int64Set& ids, int& reason) const;
    // Whether key lies in (or is) the agent's work directory.
    bool IsOurFile(const wxString& key) const;

    static wxString ChangeName(int change);

protected:
    // The parts of Open that the legacy thread shares; false without a database.
    bool OpenDatabase();
    void LoadTypeInfos();
    void InitIntervals();
    void CloseDatabase();
    // Empties the process cache and closes the database.
    void Release();
    // The move, prune, process poll and statistics that are due; polls come
    // at most every minPollMs however often the setting asks.
    void Housekeeping(unsigned int minPollMs);
    virtual void MoveOnChangeRecords();
    // Moves the cached entities whose first change is no later than
    // firstChangedBy (milliseconds since the epoch) or that went quiet.
    void MoveCachedRecords(long long firstChangedBy);
    void PruneCachedRecords();
    void UpdateProcessInfo(bool report);
    // Entity sets of the directory and file infos, for the legacy thread's hooks.
    CEntityTypeInfo& DirectoryTypeInfo() { return m_directoryTypeInfo; }
    CEntityTypeInfo& FileTypeInfo() { return m_fileTypeInfo; }

    // A key's row in the cache; included is false for a key no set covers.
    struct CacheRow {
        long long id = 0;
        bool included = false;
    };
    bool OnEntityChangedInternal(const KvoCore::CHostMetaData& entity, int change, long long time,
                                 const wxString& user, const wxString& processName, const wxString& pid);
    // Remembers a key no rule covers: files as missed real-time changes,
    // other keys as cache rows without entity sets.
    virtual void RememberNotIncluded(const wxString& type, const wxString& key, int reason);
    // Whether a file or directory key is known from the missed-change list.
    virtual bool IsRememberedMiss(const wxString& key) const;
    virtual void CountMetric(const char* name);
    // The type under which some set includes the key (a directory may be
    // included as a file), or empty; ids receives the sets.
    wxString IncludingType(const KvoCore::CHostMetaData& entity, KvoCore::Int64Set& ids, int& reason) const;
    bool FindCacheRow(const wxString& type, const wxString& key, CacheRow& row);
    long long InsertCacheRow(const wxString& type, const wxString& key, const wxString& ids);
    void InsertDetail(long long changeId, int change, long long time, const wxString& oldKey, const wxString& user,
                      const wxString& process);
    bool ExtendDetail(long long changeId, int change, long long time, const wxString& oldKey, const wxString& user,
                      const wxString& process);
    void PrepareSqlStatements();
    void SeedCache(bool cacheIsFile, const wxString& cacheFile);
    void LogChange(const KvoCore::CHostMetaData& entity, int change, const wxString& user, const wxString& processName,
                   const wxString& pid) const;
    void ReportProcesses(std::map<wxString, std::unique_ptr<KvoCore::CHostMetaData>>& started, bool report);
    void AddSearchBaseToTable(lua_State* L, int table, const CEntityTypeInfo& info) const;
    void AddRootExtensionsToTable(lua_State* L, int table, const CEntityTypeInfo& info) const;

    KvoCore::CDom& m_dom;
    // The sets and matchers the type infos read; they must outlive them.
    CSqlDirectoryEntitySets m_directorySets;
    CSqlFileEntitySets m_fileSets;
    CSqlProcessEntitySets m_processSets;
    CDirectoryIntegrityKeyMatch m_directoryMatcher;
    CFileIntegrityKeyMatch m_fileMatcher;
    CProcessIntegrityScanThread::CKeyMatch m_processMatcher;

    CEntityTypeInfo m_directoryTypeInfo;
    CEntityTypeInfo m_fileTypeInfo;
    CEntityTypeInfo m_processTypeInfo;
    wxString m_workPath;
    bool m_processMonitoring = false;
    bool m_trace;
    wxChar m_separator;
    long long m_seedBoundary = 0;
    int m_cacheMaxSize = 8192;
    int m_settleTimeMs;
    int m_maxDelayMs;
    KvoCore::CDom* m_agent;
    std::unique_ptr<KvoCore::CSqliteDatabase> m_db;
    // Running executables by key: the host reports one object per executable.
    std::map<wxString, std::unique_ptr<KvoCore::CHostMetaData>> m_processCache;
    std::unique_ptr<wxSQLite3Statement> m_entitySetLookup;
    std::unique_ptr<wxSQLite3Statement> m_quietEntities;
    std::unique_ptr<wxSQLite3Statement> m_cachedEntity;
    std::unique_ptr<wxSQLite3Statement> m_detailsOfEntity;
    std::unique_ptr<wxSQLite3Statement> m_insertEntity;
    std::unique_ptr<wxSQLite3Statement> m_insertDetail;
    std::unique_ptr<wxSQLite3Statement> m_prune;
    std::unique_ptr<wxSQLite3Statement> m_extendDetail;
    unsigned int m_memoryStatsIntervalMs = 900000;
    unsigned long m_lastMemoryStats = 0;
    unsigned int m_moveIntervalMs = 0;
    unsigned long m_lastMove = 0;
    unsigned int m_processPollIntervalMs = 15000;
    unsigned long m_lastProcessPoll = 0;
    unsigned int m_updateIntervalMs = 0;
    wxMutex m_mutex;
};

}  // namespace KvoPluginIm
