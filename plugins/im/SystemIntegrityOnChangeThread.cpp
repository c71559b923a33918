#include "plugins/im/SystemIntegrityOnChangeThread.h"

#include <stdio.h>

#include <algorithm>

#include <wx/filename.h>
#include <sqlite3.h>
#include <wx/wxsqlite3.h>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "core/StateKeys.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

const char* const CSystemIntegrityOnChangeThread::s_Trace = Keys::kTraceScannerOnChange;

namespace {

// SQLite 3.6.18 and later keep an attached in-memory database usable across
// transactions of the main file; older ones needed a file.
constexpr int kMemoryCacheSinceVersion = 0x2dde42;

long long SettingOr(const KvoCore::CDom& dom, const char* key, long long fallback) {
    long long value = fallback;
    return dom.Get(key, value) ? value : fallback;
}

}  // namespace

CSystemIntegrityOnChangeThread::CSystemIntegrityOnChangeThread(KvoCore::CDom& dom, int settleTimeMs, int maxDelayMs)
    : m_dom(dom),
      m_directoryMatcher(CIntegrityScanThread::GetPathFormat(dom)),
      m_fileMatcher(KvoCore::FileIsExecutable, CIntegrityScanThread::GetPathFormat(dom)),
      m_directoryTypeInfo(&m_directorySets, &m_directoryMatcher),
      m_fileTypeInfo(&m_fileSets, &m_fileMatcher),
      m_processTypeInfo(&m_processSets, &m_processMatcher),
      m_trace(KvoCore::LogTraceIsEnabled(s_Trace)),
      m_separator(wxFileName::GetPathSeparator(CIntegrityScanThread::GetPathFormat(dom))),
      m_settleTimeMs(settleTimeMs),
      m_maxDelayMs(maxDelayMs),
      m_agent(&dom),
      m_mutex(wxMUTEX_RECURSIVE) {
    // Until Open, Update has nothing to do but still tells when to come back.
    m_moveIntervalMs = static_cast<unsigned int>(std::max(settleTimeMs / 2, 1));
    m_updateIntervalMs = std::min(m_processPollIntervalMs, m_moveIntervalMs);
}

CSystemIntegrityOnChangeThread::~CSystemIntegrityOnChangeThread() {
    // Only the registered object gives up the registration: another one may
    // be the agent's engine by now.
    void* engine = nullptr;
    if (m_dom.Get(Keys::kOnChangeEngine, engine) && engine == this)
        Close();
    else
        Release();
}

void CSystemIntegrityOnChangeThread::Open() {
    wxMutexLocker lock(m_mutex);
    KVO_TRACE(s_Trace, "OnRun()");
    if (!OpenDatabase()) return;
    LoadTypeInfos();
    InitIntervals();
    UpdateProcessInfo(false);
}

bool CSystemIntegrityOnChangeThread::OpenDatabase() {
    CloseDatabase();
    m_cacheMaxSize = static_cast<int>(std::max(SettingOr(m_dom, Keys::kOnChangeCacheMaxSize, 8192), 512LL));
    m_memoryStatsIntervalMs =
        static_cast<unsigned int>(std::max(SettingOr(m_dom, Keys::kOnChangeMemoryStatsFrequency, 900), 5LL) * 1000);
    m_processPollIntervalMs =
        static_cast<unsigned int>(std::max(SettingOr(m_dom, Keys::kOnChangeProcessCheckFrequency, 15), 5LL) * 1000);
    const bool memoryDb = SettingOr(m_dom, Keys::kOnChangeUseMemoryDb,
                                    sqlite3_libversion_number() > kMemoryCacheSinceVersion ? 1 : 0) != 0;

    m_workPath = m_dom.GetWxString(KvoCore::Keys::kWorkPath);
    if (!m_directoryMatcher.EntityKeysAreCaseSensitive()) m_workPath.MakeLower();

    const wxString dbPath = m_dom.GetWxString(Keys::kDbPath);
    auto db = std::make_unique<KvoCore::CSqliteDatabase>(m_dom, s_Trace);
    KVO_TRACE(s_Trace, "Opening db: %s", dbPath);
    if (!db->OpenIntegrityDb(dbPath, KvoCore::DbAccess::ReadWrite)) return false;

    wxFileName cacheName(dbPath);
    cacheName.SetName("onChange");
    const wxString cacheFile = cacheName.GetFullPath();
    if (wxFileName::FileExists(cacheFile)) {
        KVO_TRACE(s_Trace, "Removing the old onChange database");
        ::remove(cacheFile.fn_str());
    }
    try {
        db->AttachDatabase(memoryDb ? wxString(":memory:") : cacheFile, "onChange");
        db->CloneTableSchema("main", "onChange", "RealtimeChanges");
        db->CloneTableSchema("main", "onChange", "ChangeDetails");
        m_db = std::move(db);
        PrepareSqlStatements();
        SeedCache(!memoryDb, cacheFile);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("The onChange database cannot be set up: %s", e.GetMessage()));
        CloseDatabase();
        return false;
    }
    return true;
}

void CSystemIntegrityOnChangeThread::LoadTypeInfos() {
    m_directoryTypeInfo.Init(*m_db, true);
    m_fileTypeInfo.Init(*m_db, true);
    m_processTypeInfo.Init(*m_db, true);
}

void CSystemIntegrityOnChangeThread::InitIntervals() {
    m_processMonitoring = !m_processTypeInfo.GetEntitySetInfos().empty();
    m_moveIntervalMs = static_cast<unsigned int>(std::max(m_settleTimeMs / 2, 1));
    m_updateIntervalMs = std::min(m_processPollIntervalMs, m_moveIntervalMs);
    m_lastMemoryStats = m_lastMove = m_lastProcessPoll = KvoCore::SystemTickCount();
}

void CSystemIntegrityOnChangeThread::Close() {
    wxMutexLocker lock(m_mutex);
    m_dom.SetNil(Keys::kOnChangeEngine);
    Release();
}

void CSystemIntegrityOnChangeThread::Release() {
    wxMutexLocker lock(m_mutex);
    m_processCache.clear();
    CloseDatabase();
}

void CSystemIntegrityOnChangeThread::CloseDatabase() {
    for (auto* statement : {&m_entitySetLookup, &m_quietEntities, &m_cachedEntity, &m_detailsOfEntity,
                            &m_insertEntity, &m_insertDetail, &m_prune, &m_extendDetail})
        statement->reset();
    if (!m_db) return;
    try {
        if (m_db->IsOpenDb()) m_db->DetachDatabase("onChange");
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogWarning(wxString::Format("The onChange database stays attached until close: %s", e.GetMessage()));
    }
    m_db->Close();
    m_db.reset();
}

unsigned int CSystemIntegrityOnChangeThread::Update() {
    // Reading every process costs; a minute is the shortest period worth it.
    Housekeeping(60000);
    return m_updateIntervalMs;
}

void CSystemIntegrityOnChangeThread::Housekeeping(unsigned int minPollMs) {
    wxMutexLocker lock(m_mutex);
    if (!m_db) return;
    try {
        const unsigned long now = KvoCore::SystemTickCount();
        if (static_cast<unsigned int>(now - m_lastMove) >= m_moveIntervalMs) {
            MoveOnChangeRecords();
            PruneCachedRecords();
            m_lastMove = now;
        }
        if (static_cast<unsigned int>(now - m_lastProcessPoll) >= std::max(m_processPollIntervalMs, minPollMs)) {
            UpdateProcessInfo(true);
            m_lastProcessPoll = now;
        }
        if (static_cast<unsigned int>(now - m_lastMemoryStats) >= m_memoryStatsIntervalMs) {
            m_db->DumpMemoryStats(s_Trace);
            m_lastMemoryStats = now;
        }
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Unhandled exception in the onChange thread: %s", e.GetMessage()));
        if (m_db->IsOpenDb() && !m_db->GetAutoCommit()) {
            try {
                m_db->Rollback();
            } catch (const wxSQLite3Exception&) {
                // The first error is the one reported.
            }
        }
    }
}

bool CSystemIntegrityOnChangeThread::IsIncluded(const wxString& type, const wxString& key, KvoCore::Int64Set& ids,
                                                int& reason) const {
    if (type.empty()) return false;
    switch (static_cast<wxChar>(type[0])) {
        case 'D':
            return m_directoryTypeInfo.IsIncluded(key, static_cast<unsigned long>(-1), ids, reason);
        case 'F':
            return m_fileTypeInfo.IsIncluded(key, static_cast<unsigned long>(-1), ids, reason);
        case 'P':
            return m_processTypeInfo.IsIncluded(key, 0, ids, reason);
        default:
            return false;
    }
}

bool CSystemIntegrityOnChangeThread::IsIncluded(const KvoCore::CHostMetaData& entity, KvoCore::Int64Set& ids,
                                                int& reason) const {
    const wxString& type = entity.GetType();
    if (type.empty()) return false;
    const wxChar first = type[0];
    if (first == 'P')
        return m_processTypeInfo.IsIncluded(entity.GetKey(), reinterpret_cast<unsigned long>(&entity), ids, reason);
    if (first >= 'D' && first <= 'G' && IsOurFile(entity.GetKey())) return false;
    return IsIncluded(type, entity.GetKey(), ids, reason);
}

bool CSystemIntegrityOnChangeThread::IsOurFile(const wxString& key) const {
    if (m_workPath.empty() || !key.StartsWith(m_workPath)) return false;
    // The work path may be written with or without its closing separator.
    if (m_workPath.Last() == m_separator) return true;
    return key.length() == m_workPath.length() || key[m_workPath.length()] == m_separator;
}

wxString CSystemIntegrityOnChangeThread::ChangeName(int change) {
    switch (change) {
        case kCreate: return "created";
        case kUpdate: return "updated";
        case kDelete: return "deleted";
        case kRename: return "renamed";
        case kBaseChanged: return "base-changed";
        default: return "?unknown?";
    }
}

}  // namespace KvoPluginIm
