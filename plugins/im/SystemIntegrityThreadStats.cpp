// CSystemIntegrityThread: counters of the entity table, kept in the module's metrics.
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {

void CSystemIntegrityThread::IncEntitiesTotalCount() {
    IncMetric("entitiesInTable", 1);
    IncMetric("entitiesCreated", 1);
}

void CSystemIntegrityThread::IncEntitiesDeletedCount(int n) {
    IncMetric("entitiesInTable", -n);
    IncMetric("entitiesDeleted", n);
}

void CSystemIntegrityThread::IncEntitiesSupercededCount() { IncMetric("entitiesSuperceded", 1); }

void CSystemIntegrityThread::IncMarkersCreatedCount() { IncMetric("entitiesMarkeredCreated", 1); }

void CSystemIntegrityThread::IncMarkersDeletedCount(int n) { IncMetric("entitiesMarkeredDeleted", n); }

void CSystemIntegrityThread::IncIncompleteDeletedCount(int n) { IncMetric("entitiesIncompleteDeleted", n); }

}  // namespace KvoPluginIm
