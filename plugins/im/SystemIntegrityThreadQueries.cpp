// CSystemIntegrityThread: the entity and event queries. Both also delete what
// the caller confirmed it holds, so si.db keeps only what is still undelivered.
#include <memory>

#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/HostPlatform.h"
#include "plugins/im/Entity.h"
#include "plugins/im/IntegrityEvent.h"
#include "plugins/im/QuerySupport.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

using namespace QuerySupport;

namespace {

const char* const kIntegrityEventId = "integrityEventId";
const char* const kRecorded = "recorded";
const long long kDefaultEventsToRetain = 64;
const int kMaxEventsPerCall = 20000;

// --- Entities ---

bool RefuseEntitiesWhileScanning(const KvoCore::CDom& dom, wxString& message) {
    if (IsSet(dom, Keys::kBaselineScanRunning)) {
        message = kScanInProgress;
        KVO_TRACE(CSystemIntegrityThread::s_Trace, "GetEntities Baseline scan is in progress returning 0 entities");
        return true;
    }
    if (IsSet(dom, Keys::kScanRunning)) {
        message = kScanInProgress;
        KVO_TRACE(CSystemIntegrityThread::s_Trace,
                  "GetEntities: One or more IM scans are in progress. Returning 0 entities");
        return true;
    }
    return false;
}

// Versions the caller holds that are superseded or deleted are of no further use;
// current versions stay, later scans compare against them.
void DeleteConfirmedEntities(KvoCore::CSqliteDatabase& db, long long lastId) {
    const CSqlEntity entity;
    const wxString supercededBy = entity.GetAttributeName(&entity.m_supercededBy);
    const unsigned int start = TickNow();
    try {
        const int deleted = db.ExecuteUpdate(
            wxString::Format("DELETE FROM [%ss] WHERE [%s]<=%lld AND ([%s]=-1 OR [%s]>0);", CSqlEntity::ElementName(),
                             entity.GetAttributeName(&entity.m_entityId), lastId, supercededBy, supercededBy));
        CSystemIntegrityThread::IncEntitiesDeletedCount(deleted);
        const unsigned int elapsed = ElapsedMs(start);
        if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
            KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec purging %d entity records.", elapsed, deleted);
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(
            wxString::Format("GetEntities() error deleting already commited entities from si.db: %s", e.GetMessage()));
    }
}

void LoadEntityAttributes(KvoCore::CSqliteDatabase& db, CEntity& entity) {
    const unsigned int start = TickNow();
    wxSQLite3ResultSet rows = SelectAttributes(db, entity.GetId());
    unsigned int count = 0;
    while (rows.NextRow()) {
        CSqlAttribute row;
        row.SQLLoad(rows);
        auto attribute = std::make_unique<CEntityAttribute>();
        attribute->SetName(row.m_name);
        attribute->SetValue(CSystemIntegrityThread::IsTimestampAttribute(row.m_name) ? TimestampToJTimeText(row.m_value)
                                                                                     : row.m_value);
        attribute->SetFriendlyValue(row.m_friendlyValue);
        entity.GetAttributes().Append(attribute.release());
        ++count;
    }
    const unsigned int elapsed = ElapsedMs(start);
    if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
        KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec loading %u attribute records for %s entity %s", elapsed,
                  count, entity.GetType(), entity.GetKey());
}

CEntity* NewEntity(const CSqlEntity& row) {
    auto entity = std::make_unique<CEntity>();
    entity->SetId(row.m_entityId);
    entity->SetType(row.m_entityType);
    entity->SetIntegrityRuleId(row.m_integrityRuleId);
    entity->SetKey(row.m_key);
    entity->SetFastHash(KvoCore::toHexString(row.m_attributeHash));
    return entity.release();
}

wxSQLite3ResultSet SelectEntitiesAfter(KvoCore::CSqliteDatabase& db, long long lastId) {
    const CSqlEntity names;
    const wxString entityId = names.GetAttributeName(&names.m_entityId);
    const unsigned int start = TickNow();
    wxSQLite3ResultSet rows = db.ExecuteQuery(wxString::Format("SELECT * FROM [%ss] WHERE [%s]>%lld ORDER BY [%s];",
                                                               CSqlEntity::ElementName(), entityId, lastId, entityId));
    const unsigned int elapsed = ElapsedMs(start);
    if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
        KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec fetching entity records.", elapsed);
    return rows;
}

// The first maxCount deliverable rows; the rest are only counted, for the trace.
std::unique_ptr<CEntitys> TakeEntities(KvoCore::CSqliteDatabase& db, wxSQLite3ResultSet& rows, int maxCount) {
    auto entities = std::make_unique<CEntitys>();
    int rowsTotal = 0, rowsProcessed = 0, rowsSkipped = 0;
    while (rows.NextRow()) {
        ++rowsTotal;
        if (static_cast<int>(entities->size()) >= maxCount) continue;
        ++rowsProcessed;
        CSqlEntity row;
        row.SQLLoad(rows);
        if (!IsDeliverable(row)) {
            ++rowsSkipped;
            KVO_TRACE(CSystemIntegrityThread::s_Trace, "GetEntities skipping GetKey %s IntegrityRuleId %d HashLen %d",
                      row.m_key, static_cast<int>(row.m_integrityRuleId),
                      static_cast<int>(row.m_attributeHash.GetDataLen()));
            continue;
        }
        CEntity* entity = NewEntity(row);
        entities->Append(entity);
        LoadEntityAttributes(db, *entity);
    }
    KVO_TRACE(CSystemIntegrityThread::s_Trace,
              "GetEntities maxEntitiesToReturn %d processed %d rows out of %d rows rowsSkipped %d", maxCount,
              rowsProcessed, rowsTotal, rowsSkipped);
    return entities;
}

// --- Events ---

// The newest retain events the caller already holds stay, so that it can ask again.
bool RetiresEvents(long long lastEventId, long long retain) { return retain < lastEventId; }

void DeleteRetiredEvents(KvoCore::CSqliteDatabase& db, long long lastEventId, long long retain) {
    if (!RetiresEvents(lastEventId, retain)) return;
    const unsigned int start = TickNow();
    try {
        const int deleted =
            db.ExecuteUpdate(wxString::Format("DELETE FROM [%s] WHERE [%s]<=%lld;", CSqlIntegrityEvents::ElementName(),
                                              kIntegrityEventId, lastEventId - retain));
        const unsigned int elapsed = ElapsedMs(start);
        if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
            KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec purging %d integrity event records.", elapsed,
                      deleted);
    } catch (const wxSQLite3Exception& e) {
        KVO_TRACE(CSystemIntegrityThread::s_Trace, "GetEvents() error deleting old events from si.db: %s",
                  e.GetMessage());
    }
}

wxString WindowCondition(long long lastEventId, long long recordedFrom, long long recordedTo) {
    wxString condition;
    const auto add = [&condition](const wxString& term) {
        if (!condition.empty()) condition += " AND ";
        condition += term;
    };
    if (recordedFrom > 0) add(wxString::Format("[%s]>=%lld", kRecorded, recordedFrom));
    if (recordedTo > 0) add(wxString::Format("[%s]<=%lld", kRecorded, recordedTo));
    if (lastEventId > 0) add(wxString::Format("[%s]>%lld", kIntegrityEventId, lastEventId));
    return condition;
}

// Window mode: the newest n events of the window by time, handed out in id order.
wxString WindowQuery(long long lastEventId, long long recordedFrom, long long recordedTo, int n) {
    return wxString::Format(
        "SELECT * FROM (SELECT * FROM [%1$s] WHERE %2$s ORDER BY [%3$s] DESC, [%4$s] DESC LIMIT %5$d) "
        "ORDER BY [%4$s];",
        CSqlIntegrityEvents::ElementName(), WindowCondition(lastEventId, recordedFrom, recordedTo), kRecorded,
        kIntegrityEventId, n);
}

wxString PagingQuery(long long lastEventId, int n) {
    return wxString::Format("SELECT * FROM [%1$s] WHERE [%2$s]>%3$lld ORDER BY [%2$s] LIMIT %4$d;",
                            CSqlIntegrityEvents::ElementName(), kIntegrityEventId, lastEventId, n);
}

int ClampLimit(int limit) {
    if (limit <= 0) return 1;
    return limit > kMaxEventsPerCall ? kMaxEventsPerCall : limit;
}

// Appends events until one refers to an entity version the caller does not hold
// yet: it and every later event wait, so no event arrives before its entities.
void LoadEvents(wxSQLite3ResultSet& rows, long long maxEntityId, KvoCore::XMLObjectList& events) {
    while (rows.NextRow()) {
        std::unique_ptr<KvoCore::XMLObject> element(events.CreateListElement());
        if (!element->SQLLoad(rows)) return;
        const auto& event = static_cast<const CIntegrityEvent&>(*element);
        if (maxEntityId != 0 && (event.GetWasEntity() > maxEntityId || event.GetIsEntity() > maxEntityId)) return;
        events.Append(element.release());
    }
}

struct EventRequest {
    long long lastEventId;
    long long maxEntityId;
    long long recordedFrom;
    long long recordedTo;
    int n;
    long long retain;
    bool IsWindow() const { return recordedFrom > 0 || recordedTo > 0; }
};

// A window hands out every column; paging the event model only.
std::unique_ptr<KvoCore::XMLObjectList> NewEventList(bool window) {
    if (window) return std::make_unique<CSqlIntegrityEvents>();
    return std::make_unique<CIntegrityEvents>();
}

// The highest event id ever handed out (ids are never reused).
// A caller claiming rows that do not exist yet would skip them once they are
// recorded, and the delete of what it holds would take rows never delivered.
long long ClampToHighestId(KvoCore::CSqliteDatabase& db, const char* call, const char* argument,
                           const wxString& table, long long id) {
    wxSQLite3ResultSet rows =
        db.ExecuteQuery(wxString::Format("SELECT MAX([seq]) FROM sqlite_sequence WHERE [name]='%s';", table));
    const long long highest = rows.NextRow() && !rows.IsNull(0) ? rows.GetInt64(0).GetValue() : 0;
    if (id <= highest) return id;
    KvoCore::LogWarning(wxString::Format("%s() %s %lld is above the highest id %lld; using %lld", call, argument, id,
                                         highest, highest));
    return highest;
}

// Retention and the read share one transaction, so the caller gets the table as
// it stood after the delete. With nothing to delete it is a read transaction,
// which never waits: a write one would wait behind a scanner's, and a scan
// that commits and begins again at once kept a reader out for tens of seconds.
void ReadEvents(KvoCore::CSqliteDatabase& db, EventRequest r, KvoCore::XMLObjectList& events) {
    // The clamp below only lowers the id, so it never adds a delete.
    const bool deletes = RetiresEvents(r.lastEventId, r.retain);
    KvoCore::CSqliteTransaction transaction(db,
                                            deletes ? WXSQLITE_TRANSACTION_IMMEDIATE : WXSQLITE_TRANSACTION_DEFERRED);
    r.lastEventId = ClampToHighestId(db, "GetEvents", "lastEventId", CSqlIntegrityEvents::ElementName(), r.lastEventId);
    DeleteRetiredEvents(db, r.lastEventId, r.retain);
    const unsigned int start = TickNow();
    wxSQLite3ResultSet rows = db.ExecuteQuery(
        r.IsWindow() ? WindowQuery(r.lastEventId, r.recordedFrom, r.recordedTo, r.n) : PagingQuery(r.lastEventId, r.n));
    LoadEvents(rows, r.maxEntityId, events);
    rows.Finalize();
    const unsigned int elapsed = ElapsedMs(start);
    if (elapsed > CIntegrityScanThread::s_StatsMinMsec)
        KVO_TRACE(CIntegrityScanThread::s_TraceStats, "%u msec loading %d integrity event records.", elapsed,
                  static_cast<int>(events.size()));
    transaction.Commit();
}

}  // namespace

bool CSystemIntegrityThread::IsTimestampAttribute(const wxString& name) {
    return name == "lastModified" || name == "created" || name == "lastAccessed";
}

KvoCore::XMLObject* CSystemIntegrityThread::GetEntities(KvoCore::CDom& dom, long long lastId, int maxCount, int& status,
                                                        wxString& message) {
    if (RefuseEntitiesWhileScanning(dom, message)) return nullptr;
    std::unique_ptr<KvoCore::CSqliteDatabase> db = OpenQueryDb(dom);
    if (!db) {
        status = 500;
        message = kCannotOpenDb;
        return nullptr;
    }
    try {
        lastId = ClampToHighestId(*db, "GetEntities", "lastId", CSqlEntity::ElementName() + "s", lastId);
        DeleteConfirmedEntities(*db, lastId);
        wxSQLite3ResultSet rows = SelectEntitiesAfter(*db, lastId);
        std::unique_ptr<CEntitys> entities = TakeEntities(*db, rows, maxCount);
        IncMetric("entitiesSentToTzm", static_cast<int>(entities->size()));
        return entities.release();
    } catch (const wxSQLite3Exception& e) {
        KvoCore::LogError(wxString::Format("GetEntities() error accessing si.db: %s", e.GetMessage()));
        return nullptr;
    }
}

KvoCore::XMLObject* CSystemIntegrityThread::GetEvents(KvoCore::CDom& dom, long long lastEventId, long long maxEntityId,
                                                      long long recordedFrom, long long recordedTo, int limit,
                                                      int& status, wxString& message) {
    const bool windowMode = recordedFrom > 0 || recordedTo > 0;
    // A time window is served during a scan: it never moves the caller's paging position.
    if (!windowMode && IsSet(dom, Keys::kScanRunning)) {
        message = kScanInProgress;
        return nullptr;
    }
    std::unique_ptr<KvoCore::CSqliteDatabase> db = OpenQueryDb(dom);
    if (!db) {
        status = 500;
        message = kCannotOpenDb;
        return nullptr;
    }
    EventRequest request{lastEventId, maxEntityId, recordedFrom, recordedTo, ClampLimit(limit), kDefaultEventsToRetain};
    if (dom.Get(Keys::kEventsToRetain, request.retain) && request.retain < 0) {
        // Negative, it would delete events beyond the ones the caller holds.
        KvoCore::LogWarning(wxString::Format("Setting zel.im.eventsToRetain=%lld is below 0; using %lld",
                                             request.retain, kDefaultEventsToRetain));
        request.retain = kDefaultEventsToRetain;
    }
    std::unique_ptr<KvoCore::XMLObjectList> events = NewEventList(windowMode);
    try {
        ReadEvents(*db, request, *events);
        db->Close();
        return events.release();
    } catch (const wxSQLite3Exception& e) {
        dom.DoAgentEventWriteAndLog(3010, KvoCore::LogLevel::Error, "GetEvents() error accessing si.db: %s",
                                    e.GetMessage());
        status = 500;
        message = e.GetMessage();
        return nullptr;
    }
}

}  // namespace KvoPluginIm
