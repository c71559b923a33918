// CIntegrityScanThread: one real-time change detail of a key. The key is
// examined as it is now, and set against its current versions set by set:
// a new version where it changed, the old one superseded or deleted, and an
// event carrying the detail's time, user and process.
#include <string.h>
#include <wx/tokenzr.h>
#include <wx/wxsqlite3.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/Utilities.h"
#include "plugins/im/SqlDirectoryEntitySet.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlFileEntitySet.h"
#include "plugins/im/SqlRealtimeChangeDetail.h"
#include "plugins/im/SqlScanEntitySetId.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/SystemIntegrityThread.h"
#include "plugins/im/im-plugin.h"

namespace KvoPluginIm {
namespace {

enum Change { ChangeCreate = 1, ChangeUpdate = 2, ChangeDelete = 3, ChangeRename = 4 };
// Recorded when an entity set's search base changed: the set needs a scan.
const int kSearchBaseChanged = -1000000;

const char* ChangeWord(int change) {
    static const char* const words[] = {"Created", "Updated", "Deleted", "Renamed"};
    return change >= ChangeCreate && change <= ChangeRename ? words[change - 1] : "Unknown";
}

wxString ChangeName(int change) {
    static const char* const names[] = {"create", "update", "delete", "rename"};
    return change >= ChangeCreate && change <= ChangeRename ? names[change - 1] : "unknown";
}

bool SameHash(const wxMemoryBuffer& a, const wxMemoryBuffer& b) {
    return a.GetDataLen() == b.GetDataLen() && memcmp(a.GetData(), b.GetData(), a.GetDataLen()) == 0;
}

void SetSupercededBy(CSqlEntity& entity, long long id) {
    entity.m_supercededBy = id;
    entity.SetAttributeNull(&entity.m_supercededBy, false);
}

// True when a set's operation list names operations and not this one. The
// list may join its names with commas or blanks.
bool OperationsExclude(const wxString& operations, int change) {
    wxStringTokenizer names(operations, wxT(", ;|\t"), wxTOKEN_STRTOK);
    if (!names.HasMoreTokens()) return false;
    const wxString wanted = ChangeName(change);
    while (names.HasMoreTokens())
        if (names.GetNextToken().IsSameAs(wanted, false)) return false;
    return true;
}

// The walk starts at a set's search base and records only what lies below
// it: a change of the base itself names no entity of the set.
bool IsWalkStart(const CSqlEntitySet& set, wxString key, const CSystemIntegrityKeyMatch& matcher) {
    wxString base = set.GetSearchBase();
    const wxString separator = matcher.GetEntityKeySeparator();
    if (base.empty() || separator.empty() || set.GetSearchRegEx() != nullptr) return false;
    for (wxString* path : {&base, &key})
        if (path->length() > separator.length() && path->EndsWith(separator)) path->RemoveLast(separator.length());
    return key.IsSameAs(base, matcher.EntityKeysAreCaseSensitive());
}

bool ExaminesAny(const KvoCore::XMLObjectList& entitySets, const wxString& key,
                 const CSystemIntegrityKeyMatch& matcher) {
    for (const KvoCore::XMLObject* member : entitySets.Children())
        if (!IsWalkStart(*static_cast<const CSqlEntitySet*>(member), key, matcher)) return true;
    return false;
}

EntityInfo* RowOfSet(const EntityInfoList& rows, long long entitySetId) {
    for (const std::unique_ptr<EntityInfo>& row : rows)
        if (row->m_entity.m_entitySetId == entitySetId) return row.get();
    return nullptr;
}

}  // namespace

bool CIntegrityScanThread::ProcessRealtimeChange(const wxString& entityType, const wxString& keyCanonical,
                                                 const KvoCore::Int64Set& entitySetIds,
                                                 const KvoCore::XMLObjectList& entitySets,
                                                 const std::map<long long, int>& severities,
                                                 const CSqlRealtimeChangeDetail& detail,
                                                 const CSqlRealtimeChangeDetail& changedBy, bool gather) {
    const int code = detail.m_change;
    if (code < 0) {
        KVO_SCANNER_TRACE("Processing BaseChanged %s %s", entityType, keyCanonical);
        if (code == kSearchBaseChanged) QueueIncrementalScanOf(entityType, entitySetIds);
        return true;
    }
    KVO_SCANNER_TRACE("Processing %s %s %s", ChangeWord(code), entityType, keyCanonical);
    if (code < ChangeCreate || code > ChangeRename) return true;

    const wxString separator = GetKeyMatcher()->GetEntityKeySeparator();
    wxString oldKey = code == ChangeRename && !detail.m_keyCanonicalOld.empty() ? detail.m_keyCanonicalOld : keyCanonical;
    if (!separator.empty() && oldKey.length() > separator.length() && oldKey.EndsWith(separator))
        oldKey.RemoveLast(separator.length());
    const bool rename = code == ChangeRename && oldKey != keyCanonical;
    // Also for a create: a key already current gets a new version, never a second current one.
    CSqlEntitys existing, targets;
    LoadCurrentEntities(entityType, oldKey, existing);
    if (rename) LoadCurrentEntities(entityType, keyCanonical, targets);
    EntityInfoList fresh;
    if (gather &&
        !CreateNewEntitiesForRealtimeChange(entityType, keyCanonical, entitySets, severities, detail, true, fresh))
        return false;
    // Examined and found gone: what it was is deleted, whatever the notification said.
    const bool vanished = gather && ExaminesAny(entitySets, keyCanonical, *GetKeyMatcher()) && fresh.empty();

    std::set<long long> paired;
    std::vector<long long> unchanged;
    for (size_t i = 0; i < existing.size(); ++i) {
        CSqlEntity& was = existing.at(i);
        EntityInfo* is = RowOfSet(fresh, was.m_entitySetId);
        if (is == nullptr) {
            // A set this change is not about keeps its version.
            if (code == ChangeDelete || rename || vanished || entitySetIds.count(was.m_entitySetId) != 0)
                SettleRealtimeVersion(entitySets, was, nullptr, ChangeDelete, detail);
            continue;
        }
        paired.insert(was.m_entitySetId);
        CSqlEntity* settled = &was;
        CSqlEntity moved;
        if (rename && VersionChanged(was, is->m_entity)) {
            // Moved and then changed before the move was processed: the move
            // is reported with what was moved, and the change as an update,
            // or the change would be lost in the move.
            MoveVersion(was, is->m_entity.m_keyCanonical, is->m_entity.m_key, detail.m_whenChangedLast, moved);
            SettleRealtimeVersion(entitySets, was, &moved, ChangeRename, detail);
            settled = &moved;
        }
        const int change = rename && settled == &was ? ChangeRename : ChangeUpdate;
        if (SettleRealtimeVersion(entitySets, *settled, &is->m_entity, change, settled == &was ? detail : changedBy))
            unchanged.push_back(is->m_entity.m_entityId);
        if (rename) RetireRenameTargets(targets, is->m_entity, 0);
    }
    for (const std::unique_ptr<EntityInfo>& row : fresh) {
        CSqlEntity& is = row->m_entity;
        if (paired.count(is.m_entitySetId) != 0) continue;
        CSqlEntity* target = nullptr;
        for (size_t i = 0; i < targets.size() && target == nullptr; ++i)
            if (targets.at(i).m_entitySetId == is.m_entitySetId && targets.at(i).m_integrityRuleId == is.m_integrityRuleId)
                target = &targets.at(i);
        if (target != nullptr) {
            // Moved onto a current entity from a name no set watches: that entity changed.
            if (SettleRealtimeVersion(entitySets, *target, &is, ChangeUpdate, detail)) unchanged.push_back(is.m_entityId);
            RetireRenameTargets(targets, is, target->m_entityId);
            continue;
        }
        CountRuleChange(is.m_integrityRuleId);
        if (!CheckOperationFilter(entitySets, ChangeCreate, &is))
            ReportIntegrityEvent(nullptr, &is, -1, static_cast<int>(is.m_integrityRuleId), ChangeCreate,
                                 detail.m_whenChangedFirst, detail.m_user, detail.m_process);
    }
    for (const std::unique_ptr<EntityInfo>& row : fresh) {
        const CSqlEntity& is = row->m_entity;
        if (std::find(unchanged.begin(), unchanged.end(), is.m_entityId) == unchanged.end()) {
            KVO_SCANNER_TRACE("[Saved] %s '%s' With Entity id  %lld was reported to be modified,  its monitored "
                              "attributes changed value . this entity Saved ",
                              entityType, is.m_key, is.m_entityId);
            continue;
        }
        DeleteEntityRow(is.m_entityId);
        AfterCommit([] { CSystemIntegrityThread::IncEntitiesDeletedCount(1); });
        KVO_SCANNER_TRACE("[Deleted] %s '%s' With Entity id %lld  was reported to be modified, but none of its "
                          "monitored attributes changed value . this entity Deleted ",
                          entityType, is.m_key, is.m_entityId);
    }
    // What lies below a path goes where it goes.
    if (!separator.empty() && rename) HandleRenamedEntity(entitySets, oldKey, keyCanonical, detail);
    if (!separator.empty() && (code == ChangeDelete || (vanished && !GatheredAnotherType())))
        HandleRenamedEntity(entitySets, keyCanonical, wxString(), detail);
    return true;
}

bool CIntegrityScanThread::SettleRealtimeVersion(const KvoCore::XMLObjectList& entitySets, CSqlEntity& was,
                                                 CSqlEntity* is, int change, const CSqlRealtimeChangeDetail& detail) {
    if (is != nullptr && change != ChangeRename) {
        if (!VersionChanged(was, *is)) {
            OnEntityUnchanged(*is, was);
            KVO_SCANNER_TRACE("%s '%s' %d was reported to be modified, but none of its monitored attributes changed "
                              "value",
                              was.m_entityType, was.m_key, static_cast<int>(was.m_entitySetId));
            return true;
        }
    }
    SetSupercededBy(was, is != nullptr ? is->m_entityId : -1);
    UpdateEntityRow(was);
    KVO_SCANNER_TRACE("Existing %s entity with entityId %lld superceded by entityId %lld. Key is '%s'",
                      was.m_entityType, was.m_entityId, was.m_supercededBy, was.m_key);
    CountRuleChange(was.m_integrityRuleId);
    if (is != nullptr) AfterCommit([] { IncMetric("entitiesSuperceded", 1); });
    if (!CheckOperationFilter(entitySets, change, &was))
        ReportIntegrityEvent(&was, is, -1, static_cast<int>(was.m_integrityRuleId), change, detail.m_whenChangedFirst,
                             detail.m_user, detail.m_process);
    return false;
}

bool CIntegrityScanThread::VersionChanged(CSqlEntity& was, CSqlEntity& is) {
    // A digest that a failed read left unknown is no change (as in a comparing scan).
    if (m_contentIncomplete) {
        if (FillUnknownDigests(is.m_entityId, was.m_entityId) > 0) RehashEntity(is);
    } else if (!SameHash(is.m_attributeHash, was.m_attributeHash) &&
               FillUnknownDigests(was.m_entityId, is.m_entityId) > 0) {
        RehashEntity(was);
    }
    return is.m_attributeHash.GetDataLen() == 0 || !SameHash(is.m_attributeHash, was.m_attributeHash);
}

void CIntegrityScanThread::MoveVersion(const CSqlEntity& was, const wxString& keyCanonical, const wxString& key,
                                       long long when, CSqlEntity& moved) {
    moved.SetFound(was.m_entityType, was.m_entitySetId, was.m_integrityRuleId, keyCanonical, key, when);
    moved.m_integrityRuleSeverity = was.m_integrityRuleSeverity;
    moved.SetAttributeNull(&moved.m_integrityRuleSeverity, was.IsAttributeNull(&was.m_integrityRuleSeverity));
    moved.m_attributeHash = was.m_attributeHash;
    moved.SetAttributeNull(&moved.m_attributeHash, false);
    {
        StatementRelease release(*Stmt().insertEntity);
        moved.SQLInsert(Db(), *Stmt().insertEntity);
    }
    wxSQLite3Statement& copy = *Stmt().copyAttributes;
    StatementRelease release(copy);
    copy.Bind(1, static_cast<wxLongLong>(moved.m_entityId));
    copy.Bind(2, static_cast<wxLongLong>(was.m_entityId));
    copy.ExecuteUpdate();
    AfterCommit([] {
        CSystemIntegrityThread::IncEntitiesTotalCount();
        IncMetric("entitiesSuperceded", 1);
    });
}

void CIntegrityScanThread::RetireRenameTargets(CSqlEntitys& targets, const CSqlEntity& is, long long replaced) {
    bool first = replaced == 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        CSqlEntity& target = targets.at(i);
        if (target.m_entityId == replaced || target.m_entitySetId != is.m_entitySetId ||
            target.m_integrityRuleId != is.m_integrityRuleId || !target.IsAttributeNull(&target.m_supercededBy))
            continue;
        KVO_SCANNER_TRACE("Processing existing target for rename event with entity key '%s'", is.m_key);
        if (first) {
            KVO_SCANNER_TRACE("Updating existing target entity id %d with new identity id %d on key '%s'",
                              static_cast<int>(target.m_entityId), static_cast<int>(is.m_entityId), is.m_key);
            SetSupercededBy(target, is.m_entityId);
            UpdateEntityRow(target);
            first = false;
        } else {
            KVO_SCANNER_TRACE("Deleting additional existing target entity id %d with key '%s'",
                              static_cast<int>(target.m_entityId), is.m_key);
            DeleteEntityRow(target.m_entityId);
            SetSupercededBy(target, -1);
        }
    }
}

void CIntegrityScanThread::LoadCurrentEntities(const wxString& entityType, const wxString& keyCanonical,
                                               CSqlEntitys& entities) {
    wxSQLite3Statement& select = *Stmt().currentEntitiesAtKey;
    StatementRelease release(select);
    select.Bind(1, entityType);
    select.Bind(2, keyCanonical);
    wxSQLite3ResultSet rows = select.ExecuteQuery();
    entities.SQLLoad(rows);
}

bool CIntegrityScanThread::VersionRecordedAt(const CSqlEntity& was, const wxString& keyCanonical, CSqlEntity& there) {
    wxSQLite3Statement& select = *Stmt().currentEntitiesAtKey;
    StatementRelease release(select);
    select.Bind(1, was.m_entityType);
    select.Bind(2, keyCanonical);
    wxSQLite3ResultSet rows = select.ExecuteQuery();
    while (rows.NextRow()) {
        there.SQLLoad(rows);
        if (there.m_entitySetId == was.m_entitySetId) return true;
    }
    return false;
}

void CIntegrityScanThread::QueueIncrementalScanOf(const wxString& entityType, const KvoCore::Int64Set& entitySetIds) {
    const CSqlScanEntitySetId row;
    const wxString scanId = row.GetAttributeName(&row.m_scanId);
    const wxString type = row.GetAttributeName(&row.m_entityType);
    const wxString setId = row.GetAttributeName(&row.m_entitySetId);
    // A set waits once, however often its base changed.
    wxSQLite3Statement insert = Db().PrepareStatement(wxString::Format(
        "INSERT INTO [%1$ss] ([%2$s],[%3$s]) SELECT ?1,?2 WHERE NOT EXISTS (SELECT 1 FROM [%1$ss] WHERE [%4$s] IS NULL "
        "AND [%2$s]=?1 AND [%3$s]=?2);",
        CSqlScanEntitySetId::ElementName(), type, setId, scanId));
    BeginTransaction();
    for (long long id : entitySetIds) {
        insert.Reset();
        insert.Bind(1, entityType);
        insert.Bind(2, static_cast<wxLongLong>(id));
        insert.ExecuteUpdate();
    }
}

bool CIntegrityScanThread::CreateNewEntitiesForRealtimeChange(const wxString& entityType, const wxString& key,
                                                              const KvoCore::XMLObjectList& entitySets,
                                                              const std::map<long long, int>& severities,
                                                              const CSqlRealtimeChangeDetail& detail, bool gather,
                                                              EntityInfoList& rows) {
    for (KvoCore::XMLObject* member : entitySets.Children()) {
        CSqlEntitySet* set = static_cast<CSqlEntitySet*>(member);
        if (IsWalkStart(*set, key, *GetKeyMatcher())) continue;
        auto info = std::make_unique<EntityInfo>(set, false);
        CSqlEntity& entity = info->m_entity;
        entity.SetFound(entityType, set->m_entitySetId, set->m_integrityRuleId, key, key, detail.m_whenChangedLast);
        const auto severity = severities.find(set->m_integrityRuleId);
        if (severity != severities.end()) entity.SetSeverity(severity->second);
        BeginTransaction();
        {
            StatementRelease release(*Stmt().insertEntity);
            entity.SQLInsert(Db(), *Stmt().insertEntity);
        }
        AfterCommit([] { CSystemIntegrityThread::IncEntitiesTotalCount(); });
        KVO_SCANNER_TRACE("Created a new %1$s entity with entityId %2$lld referenced by %1$sSetId %3$lld. Key is %4$s",
                          entityType, entity.m_entityId, entity.m_entitySetId, key);
        rows.push_back(std::move(info));
    }
    if (!gather || rows.empty()) {
        for (const std::unique_ptr<EntityInfo>& row : rows) {
            wxSQLite3Statement& update = *Stmt().updateAttributeHash;
            StatementRelease release(update);
            update.Bind(1, m_attributeHash);
            update.Bind(2, static_cast<wxLongLong>(KvoCore::TimeNowMillis()));
            update.Bind(3, static_cast<wxLongLong>(row->m_entity.m_entityId));
            update.ExecuteUpdate();
        }
        return true;
    }
    const unsigned long started = KvoCore::SystemTickCount();
    if (!GatherAttributesWithResult(key, rows)) {
        KvoCore::LogError(wxString::Format("Failing scan of %s due to GatherAttributesWithResult failure.", entityType));
        return false;
    }
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec in GatherAttributes() for %s with key '%s'", elapsed, entityType, key));
    for (const std::unique_ptr<EntityInfo>& row : rows) SetAttributeHash(row->m_entity);
    return true;
}

void CIntegrityScanThread::HandleRenamedEntity(const KvoCore::XMLObjectList&, const wxString& oldKey,
                                               const wxString& newKey, const CSqlRealtimeChangeDetail& detail) {
    const wxString separator = GetKeyMatcher()->GetEntityKeySeparator();
    // Every key below "dir/" sorts before "dir0" ('0' follows '/'); LIKE would
    // also take names that differ only in case.
    const wxString below = oldKey.EndsWith(separator) ? oldKey : oldKey + separator;
    const wxString upper = below.Left(below.length() - separator.length()) + wxString(wxUniChar(separator[0].GetValue() + 1));
    const wxString newBelow = newKey.empty() || newKey.EndsWith(separator) ? newKey : newKey + separator;
    const CSqlEntity names;
    const CSqlDirectoryEntitySet setNames;
    // A directory carries the files below it as well as its subdirectories.
    const std::pair<wxString, wxString> pathTypes[] = {
        {CSqlDirectoryEntitySet::EntityType(), CSqlDirectoryEntitySet::ElementName() + "s"},
        {CSqlFileEntitySet::EntityType(), CSqlFileEntitySet::ElementName() + "s"}};
    for (const auto& [type, setTable] : pathTypes) {
        unsigned long started = KvoCore::SystemTickCount();
        CSqlEntitys descendants;
        std::vector<wxString> operations;
        {
            wxSQLite3Statement select = Db().PrepareStatement(wxString::Format(
                "SELECT e.*,s.[%1$s] AS [setOperations] FROM [%2$ss] AS e JOIN [%3$s] AS s ON s.[%4$s]=e.[%4$s] "
                "WHERE e.[%5$s]>?1 AND e.[%5$s]<?2 AND e.[%6$s]=?3 AND e.[%7$s] IS NULL AND s.[onChange]=1 AND "
                "(e.[%8$s] IS NULL OR e.[%8$s]<=?4) ORDER BY e.[%5$s];",
                setNames.GetAttributeName(&setNames.m_operations), CSqlEntity::ElementName(), setTable,
                names.GetAttributeName(&names.m_entitySetId), names.GetAttributeName(&names.m_keyCanonical),
                names.GetAttributeName(&names.m_entityType), names.GetAttributeName(&names.m_supercededBy),
                names.GetAttributeName(&names.m_whenScanned)));
            select.Bind(1, below);
            select.Bind(2, upper);
            select.Bind(3, type);
            // What the other scanner recorded there since (a tree moved in) stays.
            select.Bind(4, static_cast<wxLongLong>(detail.m_whenChangedLast));
            wxSQLite3ResultSet rows = select.ExecuteQuery();
            while (rows.NextRow()) {
                CSqlEntity* entity = new CSqlEntity();
                entity->SQLLoad(rows);
                descendants.Append(entity);
                operations.push_back(rows.GetString(wxString("setOperations")));
            }
        }
        if (descendants.empty()) continue;
        if (const unsigned elapsed = StatsElapsedMsec(started))
            TraceStats(wxString::Format("%u msec loading %u entity records for path rename handling", elapsed,
                                        static_cast<unsigned>(descendants.size())));
        BeginTransaction();
        for (size_t i = 0; i < descendants.size(); ++i) {
            CSqlEntity& was = descendants.at(i);
            CSqlEntity moved;
            // A version recorded at the new key since (the entry's own change came
            // first) is the moved one: never a second current one.
            const wxString newCanonical = newBelow + was.m_keyCanonical.Mid(below.length());
            if (!newBelow.empty() && !VersionRecordedAt(was, newCanonical, moved)) {
                started = KvoCore::SystemTickCount();
                MoveVersion(was, newCanonical, newBelow + was.m_key.Mid(below.length()), detail.m_whenChangedLast,
                            moved);
                if (const unsigned elapsed = StatsElapsedMsec(started))
                    TraceStats(wxString::Format("%u msec copying attributes to renamed %s '%s'", elapsed, type,
                                                moved.m_key));
            }
            const int change = newBelow.empty() ? ChangeDelete : ChangeRename;
            SetSupercededBy(was, newBelow.empty() ? -1 : moved.m_entityId);
            UpdateEntityRow(was);
            CountRuleChange(was.m_integrityRuleId);
            if (!OperationsExclude(operations[i], change))
                ReportIntegrityEvent(&was, newBelow.empty() ? nullptr : &moved, -1,
                                     static_cast<int>(was.m_integrityRuleId), change, detail.m_whenChangedFirst,
                                     detail.m_user, detail.m_process);
        }
    }
}

bool CIntegrityScanThread::CheckOperationFilter(const KvoCore::XMLObjectList& entitySets, int change,
                                                const CSqlEntity* entity) {
    if (entity == nullptr) return false;
    KVO_SCANNER_TRACE("Check operation filter changeType %d, entitySetId %d", change,
                      static_cast<int>(entity->m_entitySetId));
    for (const KvoCore::XMLObject* member : entitySets.Children()) {
        const CSqlDirectoryEntitySet* set = dynamic_cast<const CSqlDirectoryEntitySet*>(member);
        if (set == nullptr || set->m_entitySetId != entity->m_entitySetId) continue;
        KVO_SCANNER_TRACE("matched operations %s", set->m_operations);
        const bool filtered = OperationsExclude(set->m_operations, change);
        KVO_SCANNER_TRACE("OperationFilter changeType %s for key %s entitySetId %d", ChangeName(change), entity->m_key,
                          static_cast<int>(entity->m_entitySetId));
        return filtered;
    }
    return false;
}

}  // namespace KvoPluginIm
