// CIntegrityScanThread: entities that another component of the agent has
// collected arrive on the message bus and are recorded and compared as if
// this scanner had found them.
#include <wx/wxsqlite3.h>

#include <memory>

#include "core/Log.h"
#include "core/MessageBus.h"
#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {
namespace {

const long long kDefaultMaxDequeueErrors = 64;

// What only this database may assign: an id from the message would
// overwrite another row, and a hash or link from another database means nothing here.
void PrepareExternalRow(CSqlEntity& entity) {
    for (const void* member : {static_cast<const void*>(&entity.m_entityId),
                               static_cast<const void*>(&entity.m_attributeHash),
                               static_cast<const void*>(&entity.m_supercededBy),
                               static_cast<const void*>(&entity.m_eventDropped)})
        entity.SetAttributeNull(member, true);
    if (entity.m_key.empty()) {
        entity.m_key = entity.m_keyCanonical;
        entity.SetAttributeNull(&entity.m_key, false);
    }
    entity.m_whenScanned = KvoCore::TimeNowMillis();
    entity.SetAttributeNull(&entity.m_whenScanned, false);
}

}  // namespace

std::string CIntegrityScanThread::ExternalEntityQueue() {
    return Keys::kExternalEntityQueuePrefix + EntityTypeAscii();
}

void CIntegrityScanThread::requestExit() {
    CRunnable::requestExit();
    // Set before the waiter looks at its stop request: either it sees the
    // request, or the wake-up ends (or pre-empts) its wait.
    if (m_waitingForExternalEntities.load()) m_dom.MsgBusWake(ExternalEntityQueue());
}

bool CIntegrityScanThread::OnProcessExternalEntities() {
    const std::string queue = ExternalEntityQueue();
    KVO_SCANNER_TRACE("OnProcessExternalEntities() - waiting for data on queue %s", queue);
    long long limit = 0;
    if (!m_dom.Get(Keys::kMaxDequeueErrors, limit) || limit < 1) limit = kDefaultMaxDequeueErrors;
    m_externalEntitiesFailed = false;
    long long failures = 0;
    for (;;) {
        m_waitingForExternalEntities = true;
        std::string data;
        const bool received =
            !ShouldShutdown() && m_dom.MsgBusDequeue(queue, KvoCore::CMessageBus::kNoTimeLimit, data, true);
        m_waitingForExternalEntities = false;
        if (ShouldShutdown()) return true;  // the step stays; a restart throws the half-received scan away
        if (!received) {
            if (++failures < limit) continue;
            KvoCore::LogError(wxString::Format(
                "%d consecutive wake-ups of CDom::MsgBusDequeue() without data. Aborting processing of external "
                "entity data.",
                static_cast<int>(failures)));
            // Without the end marker the data is incomplete: post-processing
            // would report every entity not received as deleted.
            return false;
        }
        CSqlEntity entity;
        if (!entity.FromXML(wxString::FromUTF8(data.data(), data.size())) || entity.m_entityType != GetEntityType()) {
            KvoCore::LogError("Error parsing external entity data - ignoring it");
        } else if (!ProcessExternalEntity(&entity)) {
            break;
        }
        failures = 0;
    }
    // A database failure leaves entities unreceived, which post-processing would report deleted.
    if (m_externalEntitiesFailed) return false;
    if (!ShouldShutdown()) SetNextStep(StepScanPostProcessing);
    return true;
}

bool CIntegrityScanThread::ProcessExternalEntity(CSqlEntity* entity) {
    try {
        BeginTransaction();
        KVO_SCANNER_TRACE("ProcessExternalEntities() - handling %s '%s'", entity->m_entityType,
                          entity->m_keyCanonical);
        if (entity->m_keyCanonical.empty()) {
            KVO_SCANNER_TRACE("Received special empty key in external entity data.");
            CommitOpenTransaction();
            return false;
        }
        PrepareExternalRow(*entity);
        {
            wxSQLite3Statement& insert = *Stmt().insertEntity;
            StatementRelease release(insert);
            entity->SQLInsert(*m_db, insert);
        }
        AfterCommit([] { CSystemIntegrityThread::IncEntitiesTotalCount(); });
        ClearEntityAttributeData();
        m_md5.clear();
        m_sha1.clear();
        m_sha256.clear();
        m_contentSize = 0;
        m_contentIncomplete = false;
        const KvoCore::Int64Set ids{entity->m_entityId};
        const CSqlAttributes& attributes = entity->GetAttributes();
        for (size_t i = 0; i < attributes.size(); ++i)
            if (!ProcessExternalEntityAttribute(*entity, ids, attributes.at(i))) break;
        SetAttributeHash(*entity);
        DoPerEntityIncrementalScanProcessing(*entity);
        CommitOpenTransaction();
        return true;
    } catch (const wxSQLite3Exception& e) {
        m_dom.DoAgentEventWrite(3010, "%s scanner accessing si.db: %s", GetEntityType(), e.GetMessage());
        KVO_SCANNER_TRACE("Exiting and returning false because of a SQLite exception");
        RollbackOpenTransaction();
        m_externalEntitiesFailed = true;
        return false;
    }
}

bool CIntegrityScanThread::ProcessExternalEntityAttribute(const CSqlEntity& entity, const KvoCore::Int64Set& entityIds,
                                                          const CSqlAttribute& attribute) {
    const wxString& name = attribute.m_name;
    std::string* digest = name == "md5" ? &m_md5 : name == "sha1" ? &m_sha1 : name == "sha256" ? &m_sha256 : nullptr;
    if (digest != nullptr) {
        wxMemoryBuffer bytes;
        // Empty: the producer could not read the content (an unknown digest, as a partial read gives).
        if (attribute.m_value.empty()) m_contentIncomplete = true;
        if (!attribute.m_value.empty() && !KvoCore::fromHexString(attribute.m_value, bytes)) {
            KvoCore::LogError(wxString::Format("External %s '%s': %s '%s' is not hexadecimal - ignoring it",
                                               entity.m_entityType, entity.m_keyCanonical, name, attribute.m_value));
            return true;
        }
        digest->assign(static_cast<const char*>(bytes.GetData()), bytes.GetDataLen());
        // Lower case, as this scanner writes digests it computes itself.
        WriteAttribute(name, KvoCore::toHexString(bytes), attribute.m_friendlyValue, entityIds,
                       attribute.m_internalValue);
        return true;
    }
    if (!IsMonitoredAttributeName(name)) {
        KvoCore::LogError(wxString::Format("External %s '%s': unknown attribute '%s' - ignoring it",
                                           entity.m_entityType, entity.m_keyCanonical, name));
        return true;
    }
    if (name == "size") {
        long long size = 0;
        if (attribute.m_value.ToLongLong(&size)) m_contentSize = size;
    }
    WriteAttribute(name, attribute.m_value, attribute.m_friendlyValue, entityIds, attribute.m_internalValue);
    return true;
}

bool CIntegrityScanThread::IsMonitoredAttributeName(const wxString& name) const {
    const std::unique_ptr<CSqlEntitySet> set(CreateEntitySetObject());
    bool found = false;
    set->EnumAttributes([&](const KvoCore::XMLObject::Attribute& attribute) {
        const wxString& column = attribute.name;
        found = column.StartsWith("monitor") && TrimAttributeName(column) == name;
        return !found;
    });
    return found;
}

}  // namespace KvoPluginIm
