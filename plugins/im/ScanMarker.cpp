#include "plugins/im/ScanMarker.h"

#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

const wxChar* const CScanMarker::s_ScanStart = wxT("-ScanStart-");
const wxChar* const CScanMarker::s_ScanEnd = wxT("-ScanEnd-");

long long CScanMarker::Insert(KvoCore::CSqliteDatabase& db, const wxChar* entityType) {
    CSqlEntity marker;
    marker.m_entityType = entityType;
    marker.SetAttributeNull(&marker.m_entityType, false);
    marker.m_whenScanned = KvoCore::TimeNowMillis();
    marker.SetAttributeNull(&marker.m_whenScanned, false);
    marker.SQLInsert(db);
    CSystemIntegrityThread::IncMarkersCreatedCount();
    return marker.m_entityId;
}

int CScanMarker::Delete(KvoCore::CSqliteDatabase& db, long long entityId) {
    const CSqlEntity entity;
    const int deleted = db.ExecuteUpdate(wxString::Format("DELETE FROM [%ss] WHERE [%s]=%lld;", CSqlEntity::ElementName(),
                                                          entity.GetAttributeName(&entity.m_entityId), entityId));
    CSystemIntegrityThread::IncMarkersDeletedCount(deleted);
    return deleted;
}

}  // namespace KvoPluginIm
