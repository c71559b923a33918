// CIntegrityScanThread: the scanner's own connection to si.db and the
// statements its hooks share.
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "plugins/im/EventOutbox.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlChangeDetail.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlIntegrityEvent.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SqlRealtimeChange.h"
#include "plugins/im/SqlRealtimeChangeDetail.h"
#include "plugins/im/SqlSubscan.h"
#include "plugins/im/SystemIntegrityScannerThread.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

namespace {

// A table of the connection's own (TEMP): nothing of it is ever in si.db.
const char* const kDigestSnapshot = "DigestSnapshot";

}  // namespace

CIntegrityScanThread::Statements::Statements() = default;
CIntegrityScanThread::Statements::~Statements() = default;

std::vector<std::pair<const char*, wxSQLite3Statement*>> CIntegrityScanThread::Statements::List() const {
    return {
        {"attributeHash", attributeHash.get()},
        {"copyAttributes", copyAttributes.get()},
        {"fillUnknownDigests", fillUnknownDigests.get()},
        {"deleteEntity", deleteEntity.get()},
        {"deleteRealtimeChange", deleteRealtimeChange.get()},
        {"entityIdsWithAttributeValue", entityIdsWithAttributeValue.get()},
        {"olderEntityNotSeenAgain", olderEntityNotSeenAgain.get()},
        {"olderCurrentEntitiesNewestFirst", olderCurrentEntitiesNewestFirst.get()},
        {"previousVersionsOfEntity", previousVersionsOfEntity.get()},
        {"attributesOfTwoEntities", attributesOfTwoEntities.get()},
        {"attributesOfEntity", attributesOfEntity.get()},
        {"attributeOfEntity", attributeOfEntity.get()},
        {"currentEntitiesAtKey", currentEntitiesAtKey.get()},
        {"realtimeChangeKeys", realtimeChangeKeys.get()},
        {"realtimeChangeDetailsOfKey", realtimeChangeDetailsOfKey.get()},
        {"subscanEntitys", subscanEntitys.get()},
        {"insertAttribute", insertAttribute.get()},
        {"insertEntity", insertEntity.get()},
        {"insertIntegrityEvent", insertIntegrityEvent.get()},
        {"updateAttributeHash", updateAttributeHash.get()},
        {"updateEntity", updateEntity.get()},
        {"updateSupercededBy", updateSupercededBy.get()},
        {"updateSubscan", updateSubscan.get()},
    };
}

bool CIntegrityScanThread::OpenSystemIntegrityDb() {
    if (!m_db) m_db.reset(new KvoCore::CSqliteDatabase(m_dom, GetTraceMask()));
    if (!m_db->IsOpenDb() && !m_db->OpenIntegrityDb(m_dom.GetWxString(Keys::kDbPath), KvoCore::DbAccess::ReadWrite)) return false;
    if (m_statements) return true;
    try {
        PrepareStatements();
        m_outbox.reset(new CEventOutbox(*m_db));
    } catch (const wxSQLite3Exception& e) {
        // Without its statements a scanner can do nothing; a file lacking the
        // integrity tables is no database for it.
        KvoCore::LogError(wxString::Format("%s cannot prepare its statements on %s: %s", GetThreadName(),
                                           m_db->GetPath(), e.GetMessage()));
        CloseSystemIntegrityDb();
        return false;
    }
    // What a stopped agent had committed but not yet sent goes out first.
    FlushOutbox();
    return true;
}

// The versions older than the scan that can be a rename's source: those of
// this type not superseded when the first search of the scan runs. Versions
// only ever leave that state during a scan, so the search, which also checks
// each row as it stands, finds what a search of the whole table would; an
// index of the digests in si.db itself made every scan pay for its upkeep
// on every version it wrote.
void CIntegrityScanThread::TakeDigestSnapshot() {
    const CSqlEntity entity;
    const CSqlAttribute attribute;
    const wxString eId = entity.GetAttributeName(&entity.m_entityId);
    const wxString eSuperceded = entity.GetAttributeName(&entity.m_supercededBy);
    const wxString aName = attribute.GetAttributeName(&attribute.m_name);
    const wxString aValue = attribute.GetAttributeName(&attribute.m_value);
    m_db->ExecuteUpdate(wxString::Format("DELETE FROM temp.[%s];", kDigestSnapshot));
    // Not seen yet this scan (0) and seen (NULL) as two disjoint parts: one
    // condition with OR made SQLite keep every row id of the first part in
    // memory to weed out doubles, 24 MB for a million files.
    const auto part = [&](const char* supercededBy) {
        return wxString::Format(
            "SELECT a.[%1$s],a.[%2$s],a.[%3$s] FROM [%4$ss] AS a JOIN [%5$ss] AS e ON e.[%1$s]=a.[%1$s] WHERE "
            "e.[%6$s]='%7$s' AND e.[%1$s]<%8$lld AND e.[%9$s] %10$s AND a.[%2$s] IN ('md5','sha1','sha256') AND "
            "a.[%3$s]<>''",
            eId, aName, aValue, CSqlAttribute::ElementName(), CSqlEntity::ElementName(),
            entity.GetAttributeName(&entity.m_entityType), GetEntityType(), m_highestEntityIdAtStartOfScan,
            eSuperceded, supercededBy);
    };
    m_db->ExecuteUpdate(wxString::Format("INSERT INTO temp.[%s] %s UNION ALL %s ORDER BY 3;", kDigestSnapshot,
                                         part("=0"), part("ISNULL")));
    m_digestSnapshotTaken = true;
}

void CIntegrityScanThread::CloseSystemIntegrityDb() {
    // Statements are finalized before their connection goes.
    m_statements.reset();
    m_outbox.reset();
    m_afterCommit.clear();
    m_transaction.reset();
    m_digestSnapshotTaken = false;
    if (m_db) m_db->Close();
}

bool CIntegrityScanThread::IsDbOpen() const { return m_db && m_db->IsOpenDb() && m_statements; }

void CIntegrityScanThread::DiscardDbAfterException() {
    CloseSystemIntegrityDb();
    m_db.reset();
}

void CIntegrityScanThread::PrepareStatements() {
    const CSqlAttribute attribute;
    const CSqlEntity entity;
    const CSqlRealtimeChange change;
    const CSqlChangeDetail detail;
    const CSqlRealtimeChangeDetail changeDetail;
    const CSqlIntegrityEvent event;
    const CSqlSubscan subscan;
    const std::unique_ptr<CSqlEntitySet> entitySet(CreateEntitySetObject());

    const wxString attributes = CSqlAttribute::ElementName() + "s";
    const wxString aEntityId = attribute.GetAttributeName(&attribute.m_entityId);
    const wxString aName = attribute.GetAttributeName(&attribute.m_name);
    const wxString aValue = attribute.GetAttributeName(&attribute.m_value);
    const wxString entitys = CSqlEntity::ElementName() + "s";
    const wxString eId = entity.GetAttributeName(&entity.m_entityId);
    const wxString eType = entity.GetAttributeName(&entity.m_entityType);
    const wxString eSetId = entity.GetAttributeName(&entity.m_entitySetId);
    const wxString eRuleId = entity.GetAttributeName(&entity.m_integrityRuleId);
    const wxString eKey = entity.GetAttributeName(&entity.m_keyCanonical);
    const wxString eSuperceded = entity.GetAttributeName(&entity.m_supercededBy);
    const wxString changes = CSqlRealtimeChange::ElementName() + "s";
    const wxString details = CSqlChangeDetail::ElementName() + "s";
    const wxString changeId = change.GetAttributeName(&change.m_realtimeChangeId);

    auto prepare = [this](std::unique_ptr<wxSQLite3Statement>& statement, const wxString& sql) {
        statement.reset(new wxSQLite3Statement(m_db->PrepareStatement(sql)));
    };
    std::unique_ptr<Statements> s(new Statements());
    prepare(s->attributeHash, wxString::Format("SELECT HASH([%s], '%s') FROM (SELECT [%s] FROM [%s] WHERE [%s]=?1 "
                                               "ORDER BY [%s]);",
                                               aValue, m_hashAlgorithm, aValue, attributes, aEntityId, aName));
    prepare(s->copyAttributes,
            wxString::Format("INSERT INTO [%1$s] SELECT NULL AS [%2$s],?1 AS [%3$s],[%4$s],[%5$s],[%6$s],[%7$s] FROM "
                             "[%1$s] where [%3$s]=?2",
                             attributes, attribute.GetAttributeName(&attribute.m_attributeId), aEntityId, aName, aValue,
                             attribute.GetAttributeName(&attribute.m_friendlyValue),
                             attribute.GetAttributeName(&attribute.m_internalValue)));
    prepare(s->fillUnknownDigests,
            wxString::Format("UPDATE [%1$s] SET [%3$s]=(SELECT [from].[%3$s] FROM [%1$s] AS [from] WHERE "
                             "[from].[%4$s]=?2 AND [from].[%2$s]=[%1$s].[%2$s]) WHERE [%4$s]=?1 AND [%2$s] IN "
                             "('md5','sha1','sha256') AND [%3$s]='' AND EXISTS (SELECT 1 FROM [%1$s] AS [from] WHERE "
                             "[from].[%4$s]=?2 AND [from].[%2$s]=[%1$s].[%2$s] AND [from].[%3$s]<>'');",
                             attributes, aName, aValue, aEntityId));
    prepare(s->deleteEntity, entity.GetSQLDeleteStatement());
    prepare(s->deleteRealtimeChange, wxString::Format("DELETE FROM [%s] WHERE [%s]=?1 AND [%s]=?2;", changes,
                                                      change.GetAttributeName(&change.m_entityType),
                                                      change.GetAttributeName(&change.m_keyCanonical)));
    // The rename search by content looks in a snapshot of the older versions'
    // digests (see TakeDigestSnapshot), joined with their rows as they stand.
    m_db->ExecuteUpdate(wxString::Format("CREATE TEMP TABLE IF NOT EXISTS [%s]([%s] INTEGER,[%s] TEXT,[%s] TEXT);",
                                         kDigestSnapshot, eId, aName, aValue));
    m_db->ExecuteUpdate(wxString::Format("CREATE INDEX IF NOT EXISTS temp.[%1$sValue] ON [%1$s]([%2$s]);",
                                         kDigestSnapshot, aValue));
    prepare(s->entityIdsWithAttributeValue,
            wxString::Format("SELECT d.[%1$s] FROM temp.[%2$s] AS d JOIN [%3$s] AS e ON e.[%1$s]=d.[%1$s] WHERE "
                             "d.[%1$s]<?1 AND e.[%4$s]=?2 AND d.[%5$s]=?3 AND d.[%6$s]=?4 AND (e.[%7$s]=0 OR "
                             "e.[%7$s] ISNULL);",
                             eId, kDigestSnapshot, entitys, eType, aName, aValue, eSuperceded));
    prepare(s->olderEntityNotSeenAgain,
            wxString::Format("SELECT * FROM [%s] WHERE [%s]<?1 AND [%s]=?2 AND [%s]=0 AND [%s]=?3 AND [%s]=?4 AND "
                             "[%s]=?5 LIMIT 1;",
                             entitys, eId, eKey, eSuperceded, eType, eSetId, eRuleId));
    prepare(s->olderCurrentEntitiesNewestFirst,
            wxString::Format("SELECT * FROM [%s] WHERE [%s]<?1 AND [%s]=?2 AND [%s] ISNULL AND [%s]=?3 AND [%s]=?4 "
                             "AND [%s]=?5 ORDER BY [%s] DESC;",
                             entitys, eId, eKey, eSuperceded, eType, eSetId, eRuleId, eId));
    prepare(s->previousVersionsOfEntity,
            wxString::Format("SELECT * FROM [%s] WHERE [%s]<?1 AND [%s]=?2 AND ( [%s] ISNULL OR [%s]>=0 ) AND "
                             "[%s]=?3 AND [%s]=?4 AND [%s]=?5 ORDER BY [%s] ;",
                             entitys, eId, eKey, eSuperceded, eSuperceded, eType, eSetId, eRuleId, eId));
    prepare(s->attributesOfTwoEntities,
            wxString::Format("SELECT * FROM [%1$s] WHERE [%2$s]=?1 OR [%2$s]=?2 ORDER BY [%3$s],[%2$s];", attributes,
                             aEntityId, aName));
    prepare(s->attributesOfEntity, wxString::Format("SELECT * FROM [%1$s] WHERE [%2$s]=?1 ORDER BY [%3$s],[%2$s];",
                                                    attributes, aEntityId, aName));
    prepare(s->attributeOfEntity,
            wxString::Format("SELECT * FROM [%s] WHERE [%s]=?1 AND [%s]=?2;", attributes, aEntityId, aName));
    prepare(s->currentEntitiesAtKey, wxString::Format("SELECT * FROM [%s] WHERE [%s]=?1 AND [%s]=?2 AND [%s] ISNULL;",
                                                      entitys, eType, eKey, eSuperceded));
    prepare(s->realtimeChangeKeys,
            wxString::Format("SELECT DISTINCT %s.%s,%s.%s FROM %s INNER JOIN %s ON %s.%s=%s.%s WHERE %s.%s=?1 ORDER "
                             "BY %s.%s",
                             changes, change.GetAttributeName(&change.m_keyCanonical), changes,
                             change.GetAttributeName(&change.m_entitySetIds), changes, details, changes, changeId,
                             details, detail.GetAttributeName(&detail.m_realtimeChangeId), changes,
                             change.GetAttributeName(&change.m_entityType), details,
                             detail.GetAttributeName(&detail.m_whenChangedLast)));
    prepare(s->realtimeChangeDetailsOfKey,
            wxString::Format("SELECT * FROM [%s] WHERE [%s]=?1 AND [%s]=?2 ORDER BY [%s] ASC;",
                             CSqlRealtimeChangeDetail::ElementName() + "s",
                             changeDetail.GetAttributeName(&changeDetail.m_entityType),
                             changeDetail.GetAttributeName(&changeDetail.m_keyCanonical),
                             changeDetail.GetAttributeName(&changeDetail.m_whenChangedFirst)));
    prepare(s->subscanEntitys,
            wxString::Format("SELECT * FROM [%1$s] NATURAL JOIN [%2$ss] WHERE [%3$s]>?1 AND [%4$s]>?2 AND [%5$s]=?3 "
                             "ORDER BY [%4$s];",
                             entitys, entitySet->GetElementName(), eId, eKey, eType));
    prepare(s->insertAttribute, attribute.GetSQLInsertStatement());
    prepare(s->insertEntity, entity.GetSQLInsertStatement());
    prepare(s->insertIntegrityEvent, event.GetSQLInsertStatement());
    prepare(s->updateAttributeHash, wxString::Format("UPDATE [%s] SET [%s]=?1, [%s]=?2 WHERE [%s]=?3;", entitys,
                                                     entity.GetAttributeName(&entity.m_attributeHash),
                                                     entity.GetAttributeName(&entity.m_whenScanned), eId));
    prepare(s->updateEntity, entity.GetSQLUpdateStatement());
    prepare(s->updateSupercededBy,
            wxString::Format("UPDATE [%s] SET [%s]=?1 WHERE [%s]=?2;", entitys, eSuperceded, eId));
    prepare(s->updateSubscan, subscan.GetSQLUpdateStatement());
    m_statements = std::move(s);
}

bool CIntegrityScanThread::GetIntegrityRule(KvoCore::CSqliteDatabase& db, long long ruleId, CSqlIntegrityRule& rule) {
    const wxString sql = wxString::Format("SELECT * FROM [%ss] WHERE [%s]=%lld;", CSqlIntegrityRule::ElementName(),
                                          rule.GetKeyAttribute()->name.Text(), ruleId);
    wxSQLite3ResultSet row = db.ExecuteQuery(sql);
    if (!row.NextRow()) return false;
    return rule.SQLLoad(row);
}

}  // namespace KvoPluginIm
