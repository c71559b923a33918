// CIntegrityScanThread: the attribute step. For every entity row the matching
// step recorded, the type's scanner writes the key's attribute rows; the base
// then hashes them into the entity row and hands it to version processing.
#include <wx/wxsqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/EventOutbox.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {
namespace {

// More consecutive failures than this on one key, and the key is skipped.
const int kMaxConsecutiveFailures = 5;
const unsigned int kPauseAfterFailureMsec = 500;
const size_t kMonitorPrefixLength = 7;  // "monitor"

}  // namespace

// How far the attribute step got, and what a failure must undo. A rollback
// takes back every key since the last commit, so the checkpoint goes back to
// the committed one and those keys are gathered again. While a key keeps
// failing, every key is committed on its own, so that giving up on the failing
// key never drops the good keys before it.
struct CIntegrityScanThread::GatherProgress {
    int failures = 0;
    wxString failingKey;
    unsigned long lastCommitTick = 0;
    wxString committedCheckpoint;
    bool committedCheckpointNull = true;
    // The batch query's row layout, found at its first row, and the entity
    // sets of the step by entitySetId: every entity of a set joins the same
    // set row, so it is loaded once and the batches point to it.
    int keyColumn = -1;
    std::vector<int> entityColumns;
    std::map<long long, std::unique_ptr<CSqlEntitySet>> entitySets;
};

bool CIntegrityScanThread::OnGatherAttributeValues() {
    GatherProgress progress;
    progress.lastCommitTick = KvoCore::SystemTickCount();
    progress.committedCheckpoint = m_subscan->m_checkpointInfo;
    progress.committedCheckpointNull = m_subscan->IsAttributeNull(&m_subscan->m_checkpointInfo);
    while (!ShouldShutdown()) {
        wxString key;
        try {
            switch (GatherNextKey(progress, key)) {
                case GatherResult::KeyDone:
                    break;
                case GatherResult::StepDone:
                    return true;
                case GatherResult::StepFailed:
                    return false;
            }
        } catch (const wxSQLite3Exception& e) {
            // No retry and no key given up: the scanner ends unfinished, and the
            // control thread suspends scanning until there is space again.
            if (KvoCore::CSqliteDatabase::IsDiskFull(e)) throw;
            if (!OnGatherFailure(progress, key, e.GetMessage())) return false;
        }
    }
    CommitOpenTransaction();
    return true;
}

CIntegrityScanThread::GatherResult CIntegrityScanThread::GatherNextKey(GatherProgress& progress, wxString& key) {
    EntityInfoList batch;
    LoadNextBatch(progress, batch, key);
    if (batch.empty()) {
        SetNextStep(StepScanPostProcessing);
        CommitOpenTransaction();
        return GatherResult::StepDone;
    }

    TestDestroy(0, nullptr);
    const unsigned long started = KvoCore::SystemTickCount();
    if (!GatherAttributesWithResult(key, batch)) {
        RollbackOpenTransaction();
        KvoCore::LogError(wxString::Format("Failing scan of %s due to GatherAttributesWithResult failure.",
                                           GetEntityType()));
        return GatherResult::StepFailed;
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec in GatherAttributes() for %s with key '%s'", elapsed, GetEntityType(), key));

    for (const std::unique_ptr<EntityInfo>& info : batch) {
        SetAttributeHash(info->m_entity);
        if (!DoPerEntityIncrementalScanProcessing(info->m_entity)) {
            RollbackOpenTransaction();
            return GatherResult::StepFailed;
        }
    }
    m_subscan->m_checkpointInfo = key;
    m_subscan->SetAttributeNull(&m_subscan->m_checkpointInfo, false);
    SaveSubscan();
    if (key == progress.failingKey) {
        progress.failures = 0;
        progress.failingKey.clear();
    }

    const bool recovering = !progress.failingKey.empty();
    const bool intervalPassed = KvoCore::SystemTickCount() - progress.lastCommitTick >
                                static_cast<unsigned long>(m_commitIntervalMsec);
    if (m_transaction && (recovering || intervalPassed)) {
        CommitOpenTransaction();
        progress.lastCommitTick = KvoCore::SystemTickCount();
    }
    if (!m_transaction) {
        progress.committedCheckpoint = key;
        progress.committedCheckpointNull = false;
    }
    return GatherResult::KeyDone;
}

void CIntegrityScanThread::LoadNextBatch(GatherProgress& progress, EntityInfoList& batch, wxString& key) {
    const unsigned long started = KvoCore::SystemTickCount();
    StatementRelease release(*Stmt().subscanEntitys);
    wxSQLite3ResultSet rows = GetSubscanEntitys();
    while (rows.NextRow()) {
        if (progress.keyColumn < 0) {
            const CSqlEntity names;
            progress.keyColumn = rows.FindColumnIndex(names.GetAttributeName(&names.m_keyCanonical));
            progress.entityColumns = names.SQLColumnMap(rows);
        }
        const wxString rowKey = rows.GetString(progress.keyColumn);
        // One batch is one key: every entity set in which the key was found.
        if (!batch.empty() && rowKey != key) break;
        key = rowKey;
        auto info = std::make_unique<EntityInfo>(nullptr, false);
        info->m_entity.SQLLoad(rows, progress.entityColumns);
        std::unique_ptr<CSqlEntitySet>& set = progress.entitySets[info->m_entity.m_entitySetId];
        if (!set) {
            set.reset(CreateEntitySetObject());
            set->SQLLoad(rows);
        }
        info->m_entitySet = set.get();
        batch.push_back(std::move(info));
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to build entity info list of size %d for %s with key '%s'", elapsed,
                                    static_cast<int>(batch.size()), GetEntityType(), key));
}

bool CIntegrityScanThread::OnGatherFailure(GatherProgress& progress, const wxString& key, const wxString& reason) {
    m_dom.DoAgentEventWriteAndLog(3010, KvoCore::LogLevel::Error, "%s scanner accessing si.db for %s: %s",
                                  GetEntityType(), key, reason);
    TestDestroy(kPauseAfterFailureMsec, nullptr);
    RollbackOpenTransaction();
    progress.lastCommitTick = KvoCore::SystemTickCount();
    m_subscan->m_checkpointInfo = progress.committedCheckpoint;
    m_subscan->SetAttributeNull(&m_subscan->m_checkpointInfo, progress.committedCheckpointNull);

    if (key != progress.failingKey) {
        progress.failingKey = key;
        progress.failures = 0;
    }
    if (++progress.failures <= kMaxConsecutiveFailures) return true;
    if (key.empty()) {
        // The batch query itself keeps failing: there is no key to step over.
        KvoCore::LogError(wxString::Format("Failing scan of %s: si.db cannot be read after %d consecutive failures",
                                           GetEntityType(), progress.failures));
        return false;
    }
    KvoCore::LogWarning(wxString::Format("Giving up on %s '%s' after %d consecutive failures", GetEntityType(), key,
                                         progress.failures));
    // Unread is not gone: the key keeps its current version until a scan can read it.
    m_givenUpKeys.insert(key);
    m_dom.AgentEventWrite(3010, wxString::Format("%s scanner gave up on %s after %d consecutive failures; its "
                                                 "previous version stays current",
                                                 KvoCore::ReplaceBars(GetEntityType()), KvoCore::ReplaceBars(key),
                                                 progress.failures));
    m_subscan->m_checkpointInfo = key;
    m_subscan->SetAttributeNull(&m_subscan->m_checkpointInfo, false);
    SaveSubscan();
    progress.committedCheckpoint = key;
    progress.committedCheckpointNull = false;
    progress.failures = 0;
    progress.failingKey.clear();
    return true;
}

void CIntegrityScanThread::CommitOpenTransaction() {
    if (!m_transaction) return;
    // Still open when the commit fails, so that the rollback after it undoes the batch.
    m_transaction->Commit();
    m_transaction.reset();
    std::vector<std::function<void()>> committed;
    committed.swap(m_afterCommit);
    for (const std::function<void()>& action : committed) action();
    FlushOutbox();
}

void CIntegrityScanThread::RollbackOpenTransaction() {
    m_afterCommit.clear();
    m_transaction.reset();
    // The snapshot was taken inside the batch just undone.
    m_digestSnapshotTaken = false;
}

void CIntegrityScanThread::AfterCommit(std::function<void()> action) {
    if (m_transaction)
        m_afterCommit.push_back(std::move(action));
    else
        action();
}

void CIntegrityScanThread::FlushOutbox() {
    if (!m_outbox) return;
    m_outbox->Flush([this](int channel, long long timeSeconds, const std::string& text) {
        return SendOutboxEntry(channel, timeSeconds, text);
    });
}

unsigned CIntegrityScanThread::StatsElapsedMsec(unsigned long startTick) const {
    if (!m_traceStats) return 0;
    const unsigned long elapsed = KvoCore::SystemTickCount() - startTick;
    return elapsed > s_StatsMinMsec ? static_cast<unsigned>(elapsed) : 0;
}

void CIntegrityScanThread::TraceStats(const wxString& text) const {
    KvoCore::LogTrace(s_TraceStats, __FILE__, __LINE__, __func__, text);
}

bool CIntegrityScanThread::GatherAttributesWithResult(const wxString& key, EntityInfoList& entities) {
    GatherAttributes(key, entities);
    return true;
}

void CIntegrityScanThread::GatherAttributesOfEntity(const wxString& key,
                                                    const KvoCore::MapStringToInt64Set& attributesOfInterest) {
    BeginTransaction();
    for (const auto& [name, entityIds] : attributesOfInterest) {
        const unsigned long started = KvoCore::SystemTickCount();
        RecordAttribute(key, name, entityIds);
        if (const unsigned elapsed = StatsElapsedMsec(started))
            TraceStats(wxString::Format("%u msec to record attribute %s of %s %s", elapsed,
                                        name.Mid(kMonitorPrefixLength), GetEntityType(), key));
    }
}

void CIntegrityScanThread::WriteAttribute(const wxString& name, const wxString& value, const wxString& friendlyValue,
                                          const KvoCore::Int64Set& entityIds, const wxString& internalValue) {
    // One record serves every row: building one per value cost more than its insert.
    CSqlAttribute& attribute = m_attributeRow;
    attribute.m_name = StoredAttributeName(name);
    attribute.SetAttributeNull(&attribute.m_name, false);
    attribute.m_value = value;
    attribute.SetAttributeNull(&attribute.m_value, false);
    // Empty optional values are stored as NULL, so that readers need not tell
    // an empty text from an absent one.
    attribute.m_friendlyValue = friendlyValue;
    attribute.SetAttributeNull(&attribute.m_friendlyValue, friendlyValue.empty());
    attribute.m_internalValue = internalValue;
    attribute.SetAttributeNull(&attribute.m_internalValue, internalValue.empty());

    wxSQLite3Statement& insert = *Stmt().insertAttribute;
    StatementRelease release(insert);
    for (long long entityId : entityIds) {
        // A NULL key lets the database number each row.
        attribute.SetAttributeNull(&attribute.m_attributeId, true);
        attribute.m_entityId = entityId;
        attribute.SetAttributeNull(&attribute.m_entityId, false);
        attribute.SQLInsert(*m_db, insert);
        insert.Reset();
    }
}

const wxString& CIntegrityScanThread::StoredAttributeName(const wxString& name) {
    // A scanner writes a dozen names over and over.
    for (const auto& [monitorName, stored] : m_storedAttributeNames)
        if (monitorName == name) return stored;
    m_storedAttributeNames.emplace_back(name, TrimAttributeName(name));
    return m_storedAttributeNames.back().second;
}

bool CIntegrityScanThread::GetAttribute(long long entityId, const wxString& name, CSqlAttribute& attribute) {
    wxSQLite3Statement& select = *Stmt().attributeOfEntity;
    StatementRelease release(select);
    select.Bind(1, static_cast<wxLongLong>(entityId));
    select.Bind(2, name);
    wxSQLite3ResultSet row = select.ExecuteQuery();
    if (!row.NextRow()) return false;
    return attribute.SQLLoad(row);
}

wxSQLite3ResultSet CIntegrityScanThread::GetSubscanEntitys() {
    wxSQLite3Statement& select = *Stmt().subscanEntitys;
    select.Bind(1, static_cast<wxLongLong>(m_highestEntityIdAtStartOfScan));
    // Without a checkpoint every key sorts after the empty text.
    KvoCore::BindText(select, 2, m_subscan->m_checkpointInfo);
    KvoCore::BindText(select, 3, GetEntityType());
    return select.ExecuteQuery();
}

wxString CIntegrityScanThread::TrimAttributeName(const wxString& name) {
    wxString rest;
    if (!name.StartsWith(wxT("monitor"), &rest) || rest.empty()) return name;
    return wxString(rest[0]).Lower() + rest.Mid(1);
}

void CIntegrityScanThread::ClearEntityAttributeData() {
    for (wxString& scratch : m_entityScratch) scratch.clear();
    m_contentIncomplete = false;
}

}  // namespace KvoPluginIm
