// CIntegrityScanThread: versions of entities. A scan records a new row for
// every entity it finds; the attribute hash condenses the row's attribute
// values, and the superseded-by column links the rows of one entity.
//
// A baseline records without comparing: its rows become the current versions
// and the older current rows of the type are retired. A comparing scan
// (incremental, pseudo-real-time) keeps a new row only when the entity
// changed, and tells vanished, moved and copied entities apart by their
// content once every entity of the scan has been seen.
#include <string.h>
#include <wx/wxsqlite3.h>

#include <string>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/im-plugin.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {
namespace {

bool ComparesVersions(int scanType) { return scanType == 1 || scanType == 3; }

enum Change { ChangeCreate = 1, ChangeUpdate = 2, ChangeDelete = 3, ChangeRename = 4 };

bool SameHash(const wxMemoryBuffer& a, const wxMemoryBuffer& b) {
    return a.GetDataLen() == b.GetDataLen() && memcmp(a.GetData(), b.GetData(), a.GetDataLen()) == 0;
}

void SetSupercededBy(CSqlEntity& entity, long long id) {
    entity.m_supercededBy = id;
    entity.SetAttributeNull(&entity.m_supercededBy, false);
}

void SetCurrent(CSqlEntity& entity) {
    entity.m_supercededBy = 0;
    entity.SetAttributeNull(&entity.m_supercededBy, true);
}

wxString ArtifactText(const char* what, const CSqlEntity& row) {
    return wxString::Format(
        "%s Id %ld canonical %s supercededBy %ld entityType %s entitySetId %ld integrityRuleId %ld ", what,
        static_cast<long>(row.m_entityId), row.m_keyCanonical, static_cast<long>(row.m_supercededBy), row.m_entityType,
        static_cast<long>(row.m_entitySetId), static_cast<long>(row.m_integrityRuleId));
}

}  // namespace

void CIntegrityScanThread::SetAttributeHash(CSqlEntity& entity) {
    const unsigned long started = KvoCore::SystemTickCount();
    wxMemoryBuffer hash;
    {
        wxSQLite3Statement& select = *Stmt().attributeHash;
        StatementRelease release(select);
        select.Bind(1, static_cast<wxLongLong>(entity.m_entityId));
        wxSQLite3ResultSet row = select.ExecuteQuery();
        if (row.NextRow() && !row.IsNull(0)) row.GetBlob(0, hash);
    }
    // The aggregate gives NULL for no rows; an entity without attributes has
    // the digest of empty input, and an empty hash would mark the row unfinished.
    if (hash.GetDataLen() == 0) hash.AppendData(m_attributeHash.GetData(), m_attributeHash.GetDataLen());

    entity.m_attributeHash = hash;
    entity.SetAttributeNull(&entity.m_attributeHash, false);
    entity.m_whenScanned = KvoCore::TimeNowMillis();
    entity.SetAttributeNull(&entity.m_whenScanned, false);

    {
        wxSQLite3Statement& update = *Stmt().updateAttributeHash;
        StatementRelease release(update);
        update.Bind(1, hash);
        update.Bind(2, static_cast<wxLongLong>(entity.m_whenScanned));
        update.Bind(3, static_cast<wxLongLong>(entity.m_entityId));
        update.ExecuteUpdate();
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to compute and set the %s of %s %lld with key '%s'", elapsed,
                                    entity.GetAttributeName(&entity.m_attributeHash), entity.m_entityType,
                                    entity.m_entityId, entity.m_key));
}


bool CIntegrityScanThread::FindPreviousVersionOfEntity(const CSqlEntity& current, CSqlEntity& previous) {
    const unsigned long started = KvoCore::SystemTickCount();
    bool found = false;
    std::vector<long long> artifacts;
    {
        wxSQLite3Statement& select = *Stmt().previousVersionsOfEntity;
        StatementRelease release(select);
        select.Bind(1, static_cast<wxLongLong>(m_highestEntityIdAtStartOfScan));
        KvoCore::BindText(select, 2, current.m_keyCanonical);
        KvoCore::BindText(select, 3, current.m_entityType);
        select.Bind(4, static_cast<wxLongLong>(current.m_entitySetId));
        select.Bind(5, static_cast<wxLongLong>(current.m_integrityRuleId));
        wxSQLite3ResultSet rows = select.ExecuteQuery();
        if (const unsigned elapsed = StatsElapsedMsec(started))
            TraceStats(wxString::Format(
                "FindPreviousEntity highestEntityId %s canonical %s entityType %s entitySetId %s integrityRuleId %s "
                "elapsed %u msec.",
                wxString::Format("%lld", m_highestEntityIdAtStartOfScan), current.m_keyCanonical,
                current.m_entityType, wxString::Format("%lld", current.m_entitySetId),
                wxString::Format("%lld", current.m_integrityRuleId), elapsed));
        std::vector<int>& columns = Stmt().previousVersionsColumns;
        CSqlEntity row;
        while (rows.NextRow()) {
            if (columns.empty()) columns = row.SQLColumnMap(rows);
            // Every column is a member, so each load replaces the whole row.
            row.SQLLoad(rows, columns);
            const long long s = row.m_supercededBy;  // NULL loads as 0
            if (s != 0 && row.m_entityId >= s) {
                // A link may only point to a newer row: this one was left by an interrupted scan.
                KVO_SCANNER_TRACE("%s", ArtifactText("Incomplete scan artifact (bad supercededBy) - deleting:", row));
                artifacts.push_back(row.m_entityId);
            } else if (row.m_attributeHash.GetDataLen() == 0) {
                KVO_SCANNER_TRACE("%s", ArtifactText("Incomplete scan artifact (null Attrhash) - deleting:", row));
                artifacts.push_back(row.m_entityId);
            } else if (!found) {
                if (s != 0) continue;
                previous.SQLLoad(rows, columns);
                found = true;
                KVO_SCANNER_TRACE("%s", ArtifactText("FindPreviousEntity found previous entity", row));
            } else {
                KVO_SCANNER_TRACE("%s", ArtifactText("Complete scan artifact after previous) - Not deleting:", row));
            }
        }
    }
    for (long long id : artifacts) DeleteEntityRow(id);
    if (!artifacts.empty())
        AfterCommit([n = static_cast<int>(artifacts.size())] { CSystemIntegrityThread::IncIncompleteDeletedCount(n); });
    if (!found) previous.m_entityId = 0;
    return found;
}

bool CIntegrityScanThread::FindMatchingContentHash(const CSqlEntity& entity, const wchar_t* algorithm,
                                                   std::string digest, long long& matchingId) {
    matchingId = 0;
    if (!m_digestSnapshotTaken) TakeDigestSnapshot();
    wxSQLite3Statement& select = *Stmt().entityIdsWithAttributeValue;
    StatementRelease release(select);
    select.Bind(1, static_cast<wxLongLong>(m_highestEntityIdAtStartOfScan));
    select.Bind(2, entity.m_entityType);
    select.Bind(3, wxString(algorithm));
    select.Bind(4, KvoCore::toHexString(digest.data(), digest.size()));
    wxSQLite3ResultSet rows = select.ExecuteQuery();
    if (!rows.NextRow()) return false;
    const long long id = rows.GetInt64(0).GetValue();
    // Two older entities with this content: which one moved cannot be told.
    if (rows.NextRow()) return false;
    matchingId = id;
    return true;
}

bool CIntegrityScanThread::DoPerEntityIncrementalScanProcessing(CSqlEntity& entity) {
    // A baseline records without comparing and raises no events.
    if (GetScanType() == 0) return true;
    CSqlEntity previous;
    if (!FindPreviousVersionOfEntity(entity, previous)) {
        long long original = 0;
        if (m_contentSize >= m_minContentSizeForRenameDetection && FindRenameSource(entity, original)) {
            // Settled in post-processing, once it is known whether the original vanished.
            SetSupercededBy(entity, original);
            UpdateEntityRow(entity);
            return true;
        }
        CountRuleChange(entity.m_integrityRuleId);
        ReportIntegrityEvent(nullptr, &entity, -1, static_cast<int>(entity.m_integrityRuleId), ChangeCreate, 0, "", "");
        return true;
    }
    // A digest is known only from a whole read. A version whose read failed
    // carries its predecessor's, and one recorded without (a baseline's)
    // takes the next whole read's: a later whole read reports a real change
    // of content, and a digest becoming known is none.
    if (m_contentIncomplete) {
        if (FillUnknownDigests(entity.m_entityId, previous.m_entityId) > 0) RehashEntity(entity);
    } else if (!SameHash(entity.m_attributeHash, previous.m_attributeHash) &&
               FillUnknownDigests(previous.m_entityId, entity.m_entityId) > 0) {
        RehashEntity(previous);
    }
    if (SameHash(entity.m_attributeHash, previous.m_attributeHash)) {
        // Only changes add to the history: the older row stays the current one.
        OnEntityUnchanged(entity, previous);
        DeleteEntityRow(entity.m_entityId);
        AfterCommit([] { CSystemIntegrityThread::IncEntitiesDeletedCount(1); });
        SetCurrent(previous);
        UpdateSupercededBy(previous);
        return true;
    }
    SetSupercededBy(previous, entity.m_entityId);
    UpdateSupercededBy(previous);
    CountRuleChange(entity.m_integrityRuleId);
    AfterCommit([] { IncMetric("entitiesSuperceded", 1); });
    ReportIntegrityEvent(&previous, &entity, -1, static_cast<int>(entity.m_integrityRuleId), ChangeUpdate, 0, "", "");
    return true;
}

int CIntegrityScanThread::FillUnknownDigests(long long to, long long from) {
    wxSQLite3Statement& copy = *Stmt().fillUnknownDigests;
    StatementRelease release(copy);
    copy.Bind(1, static_cast<wxLongLong>(to));
    copy.Bind(2, static_cast<wxLongLong>(from));
    return copy.ExecuteUpdate();
}

void CIntegrityScanThread::RehashEntity(CSqlEntity& entity) {
    const long long whenScanned = entity.m_whenScanned;
    SetAttributeHash(entity);
    entity.m_whenScanned = whenScanned;
    UpdateEntityRow(entity);
}

void CIntegrityScanThread::DropVanishedEntities(const wxString& key, EntityInfoList& entities) {
    KVO_SCANNER_TRACE("%s '%s' vanished before its attributes were read", GetEntityType(), key);
    for (const std::unique_ptr<EntityInfo>& info : entities) DeleteEntityRow(info->m_entity.m_entityId);
    entities.clear();
}

int CIntegrityScanThread::KeepUnseenEntitiesBelow(long long entitySetId, const wxString& directory) {
    const wxString below = directory.EndsWith(wxT("/")) ? directory : directory + wxT("/");
    if (GetScanType() == 0) {
        // A baseline keeps them at its end: what it could not list it did not record.
        m_unlistedBelow.emplace_back(entitySetId, below);
        return 0;
    }
    if (!ComparesVersions(GetScanType())) return 0;
    const CSqlEntity entity;
    // Every key below the directory sorts between "dir/" and "dir0" ('0' follows '/').
    wxSQLite3Statement keep = m_db->PrepareStatement(wxString::Format(
        "UPDATE [%1$s] SET [%2$s]=NULL WHERE [%3$s]=?1 AND [%4$s]=?2 AND [%2$s]=0 AND [%5$s]<?3 AND [%6$s]>?4 AND "
        "[%6$s]<?5;",
        CSqlEntity::ElementName() + "s", entity.GetAttributeName(&entity.m_supercededBy),
        entity.GetAttributeName(&entity.m_entityType), entity.GetAttributeName(&entity.m_entitySetId),
        entity.GetAttributeName(&entity.m_entityId), entity.GetAttributeName(&entity.m_keyCanonical)));
    keep.Bind(1, GetEntityType());
    keep.Bind(2, static_cast<wxLongLong>(entitySetId));
    keep.Bind(3, static_cast<wxLongLong>(m_highestEntityIdAtStartOfScan));
    keep.Bind(4, below);
    keep.Bind(5, below.Left(below.length() - 1) + wxT("0"));
    return keep.ExecuteUpdate();
}

bool CIntegrityScanThread::FindRenameSource(const CSqlEntity& entity, long long& original) {
    const unsigned long started = KvoCore::SystemTickCount();
    const struct {
        const wchar_t* algorithm;
        const std::string& digest;
    } digests[] = {{L"sha256", m_sha256}, {L"sha1", m_sha1}, {L"md5", m_md5}};
    int searches = 0;
    for (const auto& d : digests) {
        if (d.digest.empty()) continue;
        ++searches;
        if (FindMatchingContentHash(entity, d.algorithm, d.digest, original)) {
            if (const unsigned elapsed = StatsElapsedMsec(started))
                TraceStats(wxString::Format("%u msec doing %d searches for a matching content hash.", elapsed,
                                            searches));
            return true;
        }
    }
    return false;
}

bool CIntegrityScanThread::OnResetSupersededBy() {
    if (ComparesVersions(GetScanType())) MarkCurrentEntitiesUnseen();
    m_digestSnapshotTaken = false;
    SetNextStep(StepMatchEntities);
    return true;
}

void CIntegrityScanThread::MarkCurrentEntitiesUnseen() {
    const CSqlEntity entity;
    const wxString supercededBy = entity.GetAttributeName(&entity.m_supercededBy);
    const wxString type = GetEntityType();
    // Rows an interrupted scan never finished are no versions. Left in place,
    // one whose key is gone by now would be reported deleted beside the real
    // version of that key.
    m_db->ExecuteUpdate(wxString::Format(
        "DELETE FROM [%1$s] WHERE [%2$s]='%3$s' AND ([%4$s] ISNULL OR length([%4$s])=0) AND ([%5$s] ISNULL OR "
        "[%5$s]=0) AND [%6$s]<%7$lld;",
        CSqlEntity::ElementName() + "s", entity.GetAttributeName(&entity.m_entityType), type,
        entity.GetAttributeName(&entity.m_attributeHash), supercededBy, entity.GetAttributeName(&entity.m_entityId),
        m_highestEntityIdAtStartOfScan));
    KVO_SCANNER_TRACE("Setting %s column to 0 in current entity records.", supercededBy);
    const unsigned long started = KvoCore::SystemTickCount();
    const wxString scope = ScopeFilters(entity.GetAttributeName(&entity.m_entitySetId),
                                        entity.GetAttributeName(&entity.m_integrityRuleId));
    const int rows = m_db->ExecuteUpdate(
        wxString::Format("UPDATE [%1$s] SET [%2$s]=0 WHERE [%3$s]='%4$s' %5$s AND [%2$s] ISNULL AND [%6$s]<%7$lld;",
                         CSqlEntity::ElementName() + "s", supercededBy, entity.GetAttributeName(&entity.m_entityType),
                         type, scope, entity.GetAttributeName(&entity.m_entityId), m_highestEntityIdAtStartOfScan));
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to set the %s column to 0 in %d old %s entity records", elapsed,
                                    supercededBy, rows, type));
}

bool CIntegrityScanThread::OnScanPostProcessing() {
    if (ComparesVersions(GetScanType())) {
        KeepGivenUpKeysCurrent();
        if (!DetectDeletesAndRenames()) return true;  // shutting down: the step is left to run again
        ReportCopiedEntities();
    }
    // Real-time change processing settles each entity as it goes.
    if (GetScanType() == 0) DeprecateEntitiesBeforeBaseline();
    SetNextStep(StepFinished);
    return true;
}

bool CIntegrityScanThread::DetectDeletesAndRenames() {
    const CSqlEntity entity;
    const wxString type = GetEntityType();
    const wxString eId = entity.GetAttributeName(&entity.m_entityId);
    const wxString eSuperceded = entity.GetAttributeName(&entity.m_supercededBy);
    const wxString entitys = CSqlEntity::ElementName() + "s";
    // A page at a time: a check after a mass move has as many unseen
    // versions as moves, and each loaded record is a kilobyte or more. Each
    // one processed leaves the unseen state, so the pages follow by id.
    const int kUnseenPerPage = 1000;
    long long after = 0;
    for (;;) {
        unsigned long started = KvoCore::SystemTickCount();
        CSqlEntitys unseen;
        {
            wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
                "SELECT * FROM [%1$s] WHERE [%2$s]='%3$s' AND [%4$s]>%5$lld AND [%4$s]<%6$lld AND [%7$s]=0 ORDER BY "
                "[%4$s] LIMIT %8$d;",
                entitys, entity.GetAttributeName(&entity.m_entityType), type, eId, after,
                m_highestEntityIdAtStartOfScan, eSuperceded, kUnseenPerPage));
            unseen.SQLLoad(rows);
        }
        if (unseen.empty()) break;
        if (const unsigned elapsed = StatsElapsedMsec(started))
            TraceStats(wxString::Format("%u msec loading %u old supercededBy=0 %s entity records.", elapsed,
                                        static_cast<unsigned>(unseen.size()), type));
        for (size_t i = 0; i < unseen.size(); ++i) {
            if (ShouldShutdown()) return false;
            CSqlEntity& old = unseen.at(i);
            after = old.m_entityId;
            started = KvoCore::SystemTickCount();
            SettleUnseenEntity(old);
            if (const unsigned elapsed = StatsElapsedMsec(started))
                TraceStats(wxString::Format("%u msec to do delete/rename detection for %s '%s' with id=%lld", elapsed,
                                            type, old.m_key, old.m_entityId));
        }
    }
    return true;
}

// An entity the scan did not see again: moved when exactly one new entity
// has its content (found while gathering), else gone.
void CIntegrityScanThread::SettleUnseenEntity(CSqlEntity& old) {
    const CSqlEntity entity;
    const wxString eId = entity.GetAttributeName(&entity.m_entityId);
    const wxString eSuperceded = entity.GetAttributeName(&entity.m_supercededBy);
    CSqlEntitys sameContent;
    {
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
            "SELECT * FROM [%s] WHERE [%s]>=%lld AND [%s]=%lld;", CSqlEntity::ElementName() + "s", eId,
            m_highestEntityIdAtStartOfScan, eSuperceded, old.m_entityId));
        sameContent.SQLLoad(rows);
    }
    BeginTransaction();
    if (sameContent.size() == 1) {
        CSqlEntity& moved = sameContent.at(0);
        SetCurrent(moved);
        UpdateEntityRow(moved);
        SetSupercededBy(old, moved.m_entityId);
        UpdateEntityRow(old);
        CountRuleChange(moved.m_integrityRuleId);
        AfterCommit([] { CSystemIntegrityThread::IncEntitiesSupercededCount(); });
        ReportIntegrityEvent(&old, &moved, -1, static_cast<int>(moved.m_integrityRuleId), ChangeRename, 0, "", "");
    } else {
        // Gone; several copies of its content are new entities, not one move.
        MarkDeleted(old);
        for (size_t n = 0; n < sameContent.size(); ++n) ReportCreated(sameContent.at(n));
    }
    CommitOpenTransaction();
}

void CIntegrityScanThread::KeepGivenUpKeysCurrent() {
    if (m_givenUpKeys.empty()) return;
    const CSqlEntity entity;
    const wxString entitys = CSqlEntity::ElementName() + "s";
    const wxString eId = entity.GetAttributeName(&entity.m_entityId);
    const wxString eType = entity.GetAttributeName(&entity.m_entityType);
    const wxString eKey = entity.GetAttributeName(&entity.m_keyCanonical);
    const wxString eSuperceded = entity.GetAttributeName(&entity.m_supercededBy);
    wxSQLite3Statement keep = m_db->PrepareStatement(
        wxString::Format("UPDATE [%s] SET [%s]=NULL WHERE [%s]=?1 AND [%s]=?2 AND [%s]<?3 AND [%s]=0;", entitys,
                         eSuperceded, eType, eKey, eId, eSuperceded));
    wxSQLite3Statement drop = m_db->PrepareStatement(
        wxString::Format("DELETE FROM [%s] WHERE [%s]=?1 AND [%s]=?2 AND [%s]>?3;", entitys, eType, eKey, eId));
    BeginTransaction();
    for (const wxString& key : m_givenUpKeys) {
        for (wxSQLite3Statement* statement : {&keep, &drop}) {
            statement->Reset();
            statement->Bind(1, GetEntityType());
            statement->Bind(2, key);
            statement->Bind(3, static_cast<wxLongLong>(m_highestEntityIdAtStartOfScan));
            statement->ExecuteUpdate();
        }
    }
    CommitOpenTransaction();
    m_givenUpKeys.clear();
}

void CIntegrityScanThread::MarkDeleted(CSqlEntity& old) {
    SetSupercededBy(old, -1);
    UpdateEntityRow(old);
    m_subscan->m_numEntitiesDeleted += 1;
    m_subscan->SetAttributeNull(&m_subscan->m_numEntitiesDeleted, false);
    SaveSubscan();
    CountRuleChange(old.m_integrityRuleId);
    ReportIntegrityEvent(&old, nullptr, -1, static_cast<int>(old.m_integrityRuleId), ChangeDelete, 0, "", "");
}

void CIntegrityScanThread::ReportCreated(CSqlEntity& entity) {
    SetCurrent(entity);
    UpdateEntityRow(entity);
    CountRuleChange(entity.m_integrityRuleId);
    ReportIntegrityEvent(nullptr, &entity, -1, static_cast<int>(entity.m_integrityRuleId), ChangeCreate, 0, "", "");
}

void CIntegrityScanThread::ReportCopiedEntities() {
    const CSqlEntity entity;
    const unsigned long started = KvoCore::SystemTickCount();
    CSqlEntitys copies;
    {
        // Scanners of other types run in the same scan: only this type's candidates are ours to settle.
        wxSQLite3ResultSet rows = m_db->ExecuteQuery(wxString::Format(
            "SELECT * FROM [%s] WHERE [%s]>%lld AND [%s]>0 AND [%s]='%s';", CSqlEntity::ElementName() + "s",
            entity.GetAttributeName(&entity.m_entityId), m_highestEntityIdAtStartOfScan,
            entity.GetAttributeName(&entity.m_supercededBy), entity.GetAttributeName(&entity.m_entityType),
            GetEntityType()));
        copies.SQLLoad(rows);
    }
    BeginTransaction();
    for (size_t i = 0; i < copies.size(); ++i) ReportCreated(copies.at(i));
    CommitOpenTransaction();
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to process %u new %s entities whose content is identical to an old entity",
                                    elapsed, static_cast<unsigned>(copies.size()), GetEntityType()));
}

void CIntegrityScanThread::CountRuleChange(long long integrityRuleId) {
    AfterCommit([id = static_cast<int>(integrityRuleId)] { IncRuleCountStat(id); });
}

void CIntegrityScanThread::BeginTransaction() {
    if (!m_transaction) m_transaction.emplace(*m_db);
}

void CIntegrityScanThread::UpdateEntityRow(CSqlEntity& entity) {
    wxSQLite3Statement& update = *Stmt().updateEntity;
    StatementRelease release(update);
    entity.SQLUpdate(*m_db, update);
}

void CIntegrityScanThread::UpdateSupercededBy(const CSqlEntity& entity) {
    wxSQLite3Statement& update = *Stmt().updateSupercededBy;
    StatementRelease release(update);
    if (entity.IsAttributeNull(&entity.m_supercededBy))
        update.BindNull(1);
    else
        update.Bind(1, static_cast<wxLongLong>(entity.m_supercededBy));
    update.Bind(2, static_cast<wxLongLong>(entity.m_entityId));
    update.ExecuteUpdate();
}

void CIntegrityScanThread::DeleteEntityRow(long long entityId) {
    // The entity row's own delete statement, keyed by its id; a record built
    // for one bind cost more than the delete (one per unchanged entity).
    wxSQLite3Statement& remove = *Stmt().deleteEntity;
    StatementRelease release(remove);
    remove.Bind(1, static_cast<wxLongLong>(entityId));
    remove.ExecuteUpdate();
}

wxString CIntegrityScanThread::KeptBelowUnlisted() const {
    const CSqlEntity entity;
    const wxString key = entity.GetAttributeName(&entity.m_keyCanonical);
    const auto quoted = [](wxString text) {
        text.Replace("'", "''");
        return text;
    };
    wxString clause;
    // Every key below a directory sorts between "dir/" and "dir0" ('0' follows '/').
    for (const auto& [setId, below] : m_unlistedBelow)
        clause << wxString::Format(" AND NOT ([%s]=%lld AND [%s]>'%s' AND [%s]<'%s')",
                                   entity.GetAttributeName(&entity.m_entitySetId), setId, key, quoted(below), key,
                                   quoted(below.Left(below.length() - 1) + wxT("0")));
    return clause;
}

void CIntegrityScanThread::DeprecateEntitiesBeforeBaseline() {
    const CSqlEntity entity;
    const wxString supercededBy = entity.GetAttributeName(&entity.m_supercededBy);
    const wxString type = GetEntityType();
    KVO_SCANNER_TRACE("Setting %s column to -1 in old %s entity records.", supercededBy, type);
    const unsigned long started = KvoCore::SystemTickCount();
    const wxString where = wxString::Format(
        "[%s]='%s' %s AND [%s] ISNULL AND [%s]<%lld", entity.GetAttributeName(&entity.m_entityType), type,
        ScopeFilters(entity.GetAttributeName(&entity.m_entitySetId), entity.GetAttributeName(&entity.m_integrityRuleId)),
        supercededBy, entity.GetAttributeName(&entity.m_entityId), m_highestEntityIdAtStartOfScan) +
        KeptBelowUnlisted();
    BeginTransaction();
    const int rows = CSystemIntegrityThread::MarkExistingEntitiesAsDeprecated(*m_db, where);
    CommitOpenTransaction();
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec to set the %s column to -1 in %d old %s entity records", elapsed,
                                    supercededBy, rows, type));
}

}  // namespace KvoPluginIm
