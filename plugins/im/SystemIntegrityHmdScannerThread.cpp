#include "plugins/im/SystemIntegrityHmdScannerThread.h"

#include <wx/arrstr.h>
#include <wx/filename.h>
#include <wx/wxsqlite3.h>

#include "core/Log.h"
#include "core/SqliteDatabase.h"
#include "core/SqliteTransaction.h"
#include "plugins/im/SqlEntitySet.h"
#include "plugins/im/SqlIncludeExcludeFeature.h"
#include "plugins/im/SqlIntegrityRule.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {
namespace {

const size_t kAttributeBuckets = 29;  // the first prime after 25

}  // namespace

CHostMetaDataIntegrityScanThread::CKeyMatch::CKeyMatch(const wxString& entityType, bool caseSensitiveKeys,
                                                       std::vector<Feature> features, bool mapsUserAndGroup)
    : m_entityType(entityType),
      m_caseSensitiveKeys(caseSensitiveKeys),
      m_features(std::move(features)),
      m_mapsUserAndGroup(mapsUserAndGroup) {}

wxString CHostMetaDataIntegrityScanThread::CKeyMatch::MapHmdAttrToSiAttr(const wxString& hostName) const {
    if (!m_mapsUserAndGroup) return hostName;
    if (hostName == wxT("user")) return wxT("userFriendly");
    if (hostName == wxT("userId")) return wxT("user");
    if (hostName == wxT("group")) return wxT("groupFriendly");
    if (hostName == wxT("groupId")) return wxT("group");
    return hostName;
}

bool CHostMetaDataIntegrityScanThread::CKeyMatch::MappedValue(const KvoCore::CHostMetaData& object,
                                                              const wxString& name, bool ignoreCase,
                                                              wxString& value) const {
    for (const auto& [hostName, values] : object.GetAttributes()) {
        if (!MapHmdAttrToSiAttr(hostName).IsSameAs(name, !ignoreCase)) continue;
        value = wxJoin(values, ',', 0);
        return true;
    }
    return false;
}

bool CHostMetaDataIntegrityScanThread::CKeyMatch::AttributeValueMatches(const wxString& name, const wxString& expected,
                                                                        bool usePattern, bool useFriendly,
                                                                        bool caseSensitive,
                                                                        unsigned long object) const {
    if (object == 0) return false;
    wxString value;
    if (!MappedValue(*reinterpret_cast<const KvoCore::CHostMetaData*>(object), useFriendly ? name + "Friendly" : name,
                     true, value))
        return false;
    const wxString wanted = caseSensitive ? expected : expected.Lower();
    if (!caseSensitive) value.MakeLower();
    return usePattern ? value.Matches(wanted) : value == wanted;
}

bool CHostMetaDataIntegrityScanThread::CKeyMatch::EntityMatchesFeature(
    const wxString& fullKey, const wxString& relativeKey, unsigned long object, const KvoCore::XMLObjectList* sets,
    const CSqlEntitySet& set, const CSqlIncludeExcludeFeature& feature, const CSqlIncludeExcludeFeatures& features,
    const CSqlIncludeExcludePatterns& patterns, const KvoCore::Int64Set& ids) const {
    for (const Feature& known : m_features) {
        if (!feature.m_name.IsSameAs(known.name, false)) continue;
        const bool caseSensitive = feature.m_caseSensitive == 0   ? false
                                   : feature.m_caseSensitive == 1 ? true
                                                                  : wxFileName::IsCaseSensitive(wxPATH_NATIVE);
        return AttributeValueMatches(known.name, feature.m_value, true, known.useFriendly, caseSensitive, object);
    }
    return CSystemIntegrityKeyMatch::EntityMatchesFeature(fullKey, relativeKey, object, sets, set, feature, features,
                                                          patterns, ids);
}

CHostMetaDataIntegrityScanThread::CHostMetaDataIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan)
    : CIntegrityScanThread(dom, subscan) {}

CHostMetaDataIntegrityScanThread::~CHostMetaDataIntegrityScanThread() = default;

bool CHostMetaDataIntegrityScanThread::GetHmdResultIfNecessary() {
    if (m_queried) return true;
    const unsigned long started = KvoCore::SystemTickCount();
    if (!GetHmdResult(m_queryResult)) {
        KvoCore::LogError(wxString::Format("Error fetching host data for %s objects.", GetEntityType()));
        m_queryResult.Clear();
        return false;
    }
    m_queried = true;
    if (const unsigned elapsed = StatsElapsedMsec(started))
        TraceStats(wxString::Format("%u msec fetching host meta-data for %s objects.", elapsed, GetEntityType()));
    return true;
}

bool CHostMetaDataIntegrityScanThread::SetCurrentEntity(const wxString& key) {
    const CKeyMatch& matcher = Matcher();
    // Keys are gathered in the order the query sorted them: the search starts
    // after the last object found, so a step costs one pass over the list.
    const size_t count = m_queryResult.size();
    for (size_t n = 0; n < count; ++n) {
        const size_t i = (m_nextObject + n) % count;
        if (matcher.CompareKeys(m_queryResult[i].GetKey(), key) != 0) continue;
        m_currentObject = &m_queryResult[i];
        m_nextObject = i + 1;
        return true;
    }
    m_currentObject = nullptr;
    KvoCore::LogWarning(wxString::Format("Couldn't find %s with key %s in our list of objects.", GetEntityType(), key));
    return false;
}

bool CHostMetaDataIntegrityScanThread::MatchSet(const KvoCore::XMLObjectList* sets, const CSqlEntitySet* set,
                                                const CSqlIncludeExcludeFeatures& features,
                                                const CSqlIncludeExcludePatterns& patterns,
                                                const CSqlIntegrityRule& rule, unsigned long,
                                                const KvoCore::Int64Set& includeExcludeIds) {
    KVO_SCANNER_TRACE("MatchSet(): IntegrityRule {%d:%s} %s {%lld}", static_cast<int>(rule.GetId()), rule.GetName(),
                      GetEntityType(), set->m_entitySetId);
    if (!GetHmdResultIfNecessary()) return false;
    const CKeyMatch& matcher = Matcher();
    KvoCore::CSqliteTransaction transaction(Db());
    for (size_t i = 0; i < m_queryResult.size(); ++i) {
        // Rolled back: a set has no checkpoint, an interrupted one is matched again whole.
        if (ShouldShutdown()) return true;
        m_currentObject = &m_queryResult[i];
        int reason = -1;
        if (matcher.EntityMatches(wxString(), m_currentObject->GetKey(),
                                  reinterpret_cast<unsigned long>(m_currentObject), sets, *set, features, patterns,
                                  includeExcludeIds, reason))
            RecordObject(*set, rule);
    }
    Stmt().insertEntity->Reset();
    transaction.Commit();
    m_currentObject = nullptr;
    return true;
}

void CHostMetaDataIntegrityScanThread::RecordObject(const CSqlEntitySet& set, const CSqlIntegrityRule& rule) {
    const wxString& key = m_currentObject->GetKey();
    KVO_SCANNER_TRACE("Including %s", key);
    m_entity.SetFound(GetEntityType(), set.m_entitySetId, rule.GetId(),
                      Matcher().EntityKeysAreCaseSensitive() ? key : key.Lower(), key, KvoCore::TimeNowMillis());
    m_entity.SetSeverity(rule.GetSeverity());
    m_entity.SQLInsert(Db(), *Stmt().insertEntity);
    CSystemIntegrityThread::IncEntitiesTotalCount();
}

bool CHostMetaDataIntegrityScanThread::OnGatherAttributeValues() {
    if (!GetHmdResultIfNecessary()) return false;
    return CIntegrityScanThread::OnGatherAttributeValues();
}

bool CHostMetaDataIntegrityScanThread::GatherAttributesWithResult(const wxString& key, EntityInfoList& entities) {
    if (m_currentObject == nullptr || Matcher().CompareKeys(m_currentObject->GetKey(), key) != 0) {
        if (!GetHmdResultIfNecessary()) return false;
        if (!SetCurrentEntity(key)) {
            // Gone since it was matched (a process that ended): a delete, not a failed scan.
            DropVanishedEntities(key, entities);
            return true;
        }
    }
    GatherAttributes(key, entities);
    return true;
}

void CHostMetaDataIntegrityScanThread::GatherAttributes(const wxString& key, EntityInfoList& entities) {
    KVO_SCANNER_TRACE("Gathering attributes for %s '%s' which appears in %u entity sets", GetEntityType(), key,
                      static_cast<unsigned>(entities.size()));
    KvoCore::MapStringToInt64Set attributes(kAttributeBuckets);
    for (const auto& info : entities) PopulateAttributesOfInterest(info->m_entity, info->m_entitySet, attributes);
    GatherAttributesOfEntity(key, attributes);
}

void CHostMetaDataIntegrityScanThread::RecordAttribute(const wxString&, const wxString& attributeName,
                                                       const KvoCore::Int64Set& entityIds) {
    if (m_currentObject == nullptr) return;
    const wxString name = TrimAttributeName(attributeName);
    wxString value;
    if (!Matcher().MappedValue(*m_currentObject, name, false, value)) return;
    wxString friendly;
    Matcher().MappedValue(*m_currentObject, name + "Friendly", false, friendly);
    WriteAttribute(attributeName, value, friendly, entityIds, wxString());
}

}  // namespace KvoPluginIm
