// The on-change cache: its statements, its seed rows, and the move of quiet
// entities into the main database.
#include <wx/wxsqlite3.h>

#include "core/Dom.h"
#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/SqlChangeDetail.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlRealtimeChange.h"
#include "plugins/im/StateKeys.h"
#include "plugins/im/SystemIntegrityOnChangeThread.h"

namespace KvoPluginIm {

namespace {

const wxChar* const kCache = wxT("onChange");

// The record's insert, aimed at the cache's copy of its table.
wxString CacheInsert(const KvoCore::XMLObject& record) {
    wxString sql = record.GetSQLInsertStatement();
    sql.Replace("INSERT INTO [", wxString("INSERT INTO ") + kCache + ".[", false);
    return sql;
}

std::unique_ptr<wxSQLite3Statement> Prepare(KvoCore::CSqliteDatabase& db, const wxString& sql) {
    return std::make_unique<wxSQLite3Statement>(db.PrepareStatement(sql));
}

}  // namespace

void CSystemIntegrityOnChangeThread::PrepareSqlStatements() {
    const CSqlEntity entity;
    const CSqlRealtimeChange change;
    const CSqlChangeDetail detail;
    const wxString changeId = change.GetAttributeName(&change.m_realtimeChangeId);
    const wxString changes = change.GetElementName() + "s";
    const wxString details = detail.GetElementName() + "s";
    m_entitySetLookup = Prepare(
        *m_db, wxString::Format("SELECT [%s] FROM [%s] WHERE [%s]=?1 AND [%s]=?2 AND [%s] ISNULL;",
                                entity.GetAttributeName(&entity.m_entitySetId), entity.GetElementName() + "s",
                                entity.GetAttributeName(&entity.m_entityType),
                                entity.GetAttributeName(&entity.m_keyCanonical),
                                entity.GetAttributeName(&entity.m_supercededBy)));
    m_quietEntities = Prepare(
        *m_db, wxString::Format("SELECT DISTINCT [%1$s] FROM %5$s.[%2$s] WHERE ([%3$s]<=?1) OR ([%1$s] NOT IN "
                                "(SELECT DISTINCT [%1$s] FROM %5$s.[%2$s] WHERE [%4$s]>=?2));",
                                changeId, details, detail.GetAttributeName(&detail.m_whenChangedFirst),
                                detail.GetAttributeName(&detail.m_whenChangedLast), kCache));
    m_cachedEntity = Prepare(*m_db, wxString::Format("SELECT * FROM %s.[%s] WHERE [%s]=?1 AND [%s]=?2;", kCache,
                                                     changes, change.GetAttributeName(&change.m_entityType),
                                                     change.GetAttributeName(&change.m_keyCanonical)));
    // ROWID breaks ties of one millisecond, so the newest detail really comes first.
    m_detailsOfEntity = Prepare(
        *m_db, wxString::Format("SELECT ROWID,* FROM %s.[%s] WHERE [%s]=?1 ORDER BY [%s] DESC, ROWID DESC;", kCache,
                                details, changeId, detail.GetAttributeName(&detail.m_whenChangedFirst)));
    m_insertEntity = Prepare(*m_db, CacheInsert(change));
    m_insertDetail = Prepare(*m_db, CacheInsert(detail));
    m_prune = Prepare(*m_db, wxString::Format("DELETE FROM %1$s.[%2$s] WHERE [%3$s] IS NULL AND ROWID > ?1 AND ROWID < "
                                              "(SELECT seq - ?2 FROM %1$s.sqlite_sequence WHERE name = '%2$s');",
                                              kCache, changes, change.GetAttributeName(&change.m_entitySetIds)));
    m_extendDetail = Prepare(*m_db, wxString::Format("UPDATE %s.[%s] SET [%s]=?1 WHERE ROWID=?2;", kCache, details,
                                                     detail.GetAttributeName(&detail.m_whenChangedLast)));
}

void CSystemIntegrityOnChangeThread::SeedCache(bool cacheIsFile, const wxString& cacheFile) {
    // The cache starts its ids past every id si.db has handed out: the move
    // copies ids, and an id still waiting in si.db from an earlier run must
    // not be met again.
    m_db->ExecuteUpdate(wxString::Format(
        "INSERT INTO %1$s.sqlite_sequence(name, seq) SELECT 'RealtimeChanges', MAX("
        "IFNULL((SELECT seq FROM main.sqlite_sequence WHERE name='RealtimeChanges'), 0), "
        "IFNULL((SELECT MAX(realtimeChangeId) FROM main.[RealtimeChanges]), 0));",
        kCache));
    // Our own writes are never worth a notification.
    m_seedBoundary = InsertCacheRow("File", m_db->GetPath(), wxString());
    if (cacheIsFile) m_seedBoundary = InsertCacheRow("File", cacheFile, wxString());
}

bool CSystemIntegrityOnChangeThread::FindCacheRow(const wxString& type, const wxString& key, CacheRow& row) {
    m_cachedEntity->Reset();
    m_cachedEntity->Bind(1, type);
    m_cachedEntity->Bind(2, key);
    CSqlRealtimeChange record;
    {
        wxSQLite3ResultSet rs = m_cachedEntity->ExecuteQuery();
        if (!rs.NextRow()) return false;
        record.SQLLoad(rs);
    }
    // A statement left stepping would hold its read open past the commit.
    m_cachedEntity->Reset();
    row.id = record.m_realtimeChangeId;
    row.included = !record.IsAttributeNull(&record.m_entitySetIds);
    return true;
}

long long CSystemIntegrityOnChangeThread::InsertCacheRow(const wxString& type, const wxString& key,
                                                         const wxString& ids) {
    CSqlRealtimeChange record;
    record.m_entityType = type;
    record.SetAttributeNull(&record.m_entityType, false);
    record.m_keyCanonical = key;
    record.SetAttributeNull(&record.m_keyCanonical, false);
    if (!ids.empty()) {
        record.m_entitySetIds = ids;
        record.SetAttributeNull(&record.m_entitySetIds, false);
    }
    record.SQLInsert(*m_db, *m_insertEntity);
    return record.m_realtimeChangeId;
}

void CSystemIntegrityOnChangeThread::InsertDetail(long long changeId, int change, long long time,
                                                  const wxString& oldKey, const wxString& user,
                                                  const wxString& process) {
    CSqlChangeDetail detail;
    detail.m_realtimeChangeId = changeId;
    detail.m_change = change;
    detail.m_whenChangedFirst = detail.m_whenChangedLast = time;
    for (const void* member : {static_cast<const void*>(&detail.m_realtimeChangeId),
                               static_cast<const void*>(&detail.m_change),
                               static_cast<const void*>(&detail.m_whenChangedFirst),
                               static_cast<const void*>(&detail.m_whenChangedLast)})
        detail.SetAttributeNull(member, false);
    const std::pair<wxString*, const wxString*> texts[] = {
        {&detail.m_keyCanonicalOld, &oldKey}, {&detail.m_user, &user}, {&detail.m_process, &process}};
    for (const auto& text : texts) {
        if (text.second->empty()) continue;
        *text.first = *text.second;
        detail.SetAttributeNull(text.first, false);
    }
    detail.SQLInsert(*m_db, *m_insertDetail);
}

bool CSystemIntegrityOnChangeThread::ExtendDetail(long long changeId, int change, long long time,
                                                  const wxString& oldKey, const wxString& user,
                                                  const wxString& process) {
    m_detailsOfEntity->Reset();
    m_detailsOfEntity->Bind(1, static_cast<wxLongLong>(changeId));
    wxLongLong rowId = -1;
    {
        // Finalize would end the prepared statement itself: the result set just goes.
        wxSQLite3ResultSet rs = m_detailsOfEntity->ExecuteQuery();
        while (rowId < 0 && rs.NextRow()) {
            CSqlChangeDetail detail;
            detail.SQLLoad(rs);
            if (detail.m_change != change) break;
            if (detail.m_user != user || detail.m_process != process) continue;
            if (change == kRename && detail.m_keyCanonicalOld != oldKey) continue;
            rowId = rs.GetInt64(0);
        }
    }
    m_detailsOfEntity->Reset();
    if (rowId < 0) return false;
    m_extendDetail->Reset();
    m_extendDetail->Bind(1, static_cast<wxLongLong>(time));
    m_extendDetail->Bind(2, rowId);
    m_extendDetail->ExecuteUpdate();
    return true;
}

void CSystemIntegrityOnChangeThread::MoveOnChangeRecords() {
    MoveCachedRecords(KvoCore::TimeNowMillis() - m_maxDelayMs);
}

void CSystemIntegrityOnChangeThread::MoveCachedRecords(long long firstChangedBy) {
    const long long now = KvoCore::TimeNowMillis();
    m_quietEntities->Reset();
    m_quietEntities->Bind(1, static_cast<wxLongLong>(firstChangedBy));
    m_quietEntities->Bind(2, static_cast<wxLongLong>(now - m_settleTimeMs));
    KvoCore::Int64Set ids;
    {
        wxSQLite3ResultSet rs = m_quietEntities->ExecuteQuery();
        while (rs.NextRow()) {
            const long long id = rs.GetInt64(0).GetValue();
            if (id > 0) ids.insert(id);
        }
    }
    m_quietEntities->Reset();
    if (ids.empty()) return;
    const wxString list = KvoCore::toList(ids, ',', true);
    const wxString changeId = wxT("realtimeChangeId");
    try {
        KvoCore::CSqliteTransaction transaction(*m_db);
        int moved[2] = {0, 0};
        const wxString records[2] = {CSqlChangeDetail::ElementName(), CSqlRealtimeChange::ElementName()};
        // Entities first, so that a detail never waits in si.db without its key.
        for (int i : {1, 0})
            moved[i] = m_db->ExecuteUpdate(wxString::Format("INSERT INTO [%1$ss] SELECT * FROM %2$s.[%1$ss] WHERE "
                                                            "[%3$s] IN %4$s;",
                                                            records[i], kCache, changeId, list));
        // The cache's copies of the tables have no delete trigger: the
        // details go explicitly, or the next move would copy them again.
        for (const wxString& record : records)
            m_db->ExecuteUpdate(
                wxString::Format("DELETE FROM %s.[%ss] WHERE [%s] IN %s;", kCache, record, changeId, list));
        transaction.Commit();
        KVO_TRACE(s_Trace, "Moved %d change records for %d entities into the main database.", moved[0], moved[1]);
        if (moved[0] > 0 || moved[1] > 0) m_dom.ConditionRaise(Keys::kOnChangeDataAvailable);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Error moving data from the onChange database to the main database: %s",
                                           e.GetMessage()));
    }
}

void CSystemIntegrityOnChangeThread::PruneCachedRecords() {
    KVO_TRACE(s_Trace, "Prunning Cached Records");
    try {
        KvoCore::CSqliteTransaction transaction(*m_db, WXSQLITE_TRANSACTION_DEFERRED);
        m_prune->Reset();
        m_prune->Bind(1, static_cast<wxLongLong>(m_seedBoundary));
        m_prune->Bind(2, m_cacheMaxSize);
        const int pruned = m_prune->ExecuteUpdate();
        if (pruned > 0) KVO_TRACE(s_Trace, "Pruned %d records from the onChange cache", pruned);
        transaction.Commit();
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("Error pruning cached records: %s", e.GetMessage()));
    }
}

}  // namespace KvoPluginIm
