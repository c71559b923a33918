// CHostMetaDataIntegrityScanThread: the base of the scanners whose entities
// are objects the agent core reports as host metadata (users, groups,
// listening ports, processes, installed software). The core answers one query
// per scanner run; the scanner records one entity per object an entity set
// includes, and later serves the entity's attribute values from the same list.
//
// A concrete scanner names its query, its monitor flags and the features and
// attribute-name mapping of its key matcher (a Description); everything else
// is here.
//
// Thread safety: as its base; everything here belongs to the scanner's thread.
#pragma once

#include <vector>

#include "core/hmd/HostMetaData.h"
#include "core/hmd/HostMetaDataQueryResult.h"
#include "plugins/im/SqlEntity.h"
#include "plugins/im/SystemIntegrityKeyMatch.h"
#include "plugins/im/SystemIntegrityScannerThread.h"

namespace KvoPluginIm {

class CHostMetaDataIntegrityScanThread : public CIntegrityScanThread {
public:
    // Matches include/exclude features against an object's attributes.
    class CKeyMatch : public CSystemIntegrityKeyMatch {
    public:
        // A feature name the matcher understands, and whether it compares the
        // friendly value (a name) rather than the plain one (an id).
        struct Feature {
            const wxChar* name;
            bool useFriendly;
        };
        CKeyMatch(const wxString& entityType, bool caseSensitiveKeys, std::vector<Feature> features,
                  bool mapsUserAndGroup);

        wxString GetEntityType() const override { return m_entityType; }
        bool EntityKeysAreCaseSensitive() const override { return m_caseSensitiveKeys; }
        wxString GetEntityKeySeparator() const override { return wxString(); }
        bool EntityMatchesFeature(const wxString& fullKey, const wxString& relativeKey, unsigned long object,
                                  const KvoCore::XMLObjectList* sets, const CSqlEntitySet& set,
                                  const CSqlIncludeExcludeFeature& feature, const CSqlIncludeExcludeFeatures& features,
                                  const CSqlIncludeExcludePatterns& patterns,
                                  const KvoCore::Int64Set& ids) const override;
        // The integrity attribute name a host-metadata attribute stands for:
        // with the user and group mapping the ids become "user" and "group",
        // the names their friendly values.
        virtual wxString MapHmdAttrToSiAttr(const wxString& hostName) const;
        // object: the CHostMetaData handed to EntityMatches.
        bool AttributeValueMatches(const wxString& name, const wxString& expected, bool usePattern, bool useFriendly,
                                   bool caseSensitive, unsigned long object) const;
        // The values of the object's attribute mapped to name, joined with ",";
        // false when it has none.
        bool MappedValue(const KvoCore::CHostMetaData& object, const wxString& name, bool ignoreCase,
                         wxString& value) const;

    private:
        const wxString m_entityType;
        const bool m_caseSensitiveKeys;
        const std::vector<Feature> m_features;
        const bool m_mapsUserAndGroup;
    };

    // A monitor flag of the type's entity-set record.
    template <typename TSet>
    using MonitorFlag = bool TSet::*;

    ~CHostMetaDataIntegrityScanThread() override;

    // The type's agent query.
    virtual bool GetHmdResult(KvoCore::CHostMetaDataQueryResult& result) const = 0;
    // Adds the monitored attribute names of set, for entity, to attributes.
    virtual void PopulateAttributesOfInterest(const CSqlEntity& entity, const CSqlEntitySet* set,
                                              KvoCore::MapStringToInt64Set& attributes) const = 0;

    bool MatchSet(const KvoCore::XMLObjectList* sets, const CSqlEntitySet* set,
                  const CSqlIncludeExcludeFeatures& features, const CSqlIncludeExcludePatterns& patterns,
                  const CSqlIntegrityRule& rule, unsigned long maxDepth,
                  const KvoCore::Int64Set& includeExcludeIds) override;
    bool OnGatherAttributeValues() override;
    bool GatherAttributesWithResult(const wxString& key, EntityInfoList& entities) override;
    void GatherAttributes(const wxString& key, EntityInfoList& entities) override;
    // One of several processes of an executable ending leaves the object in place.
    bool ReexamineDeletedKeys() const override { return true; }
    void RecordAttribute(const wxString& key, const wxString& attributeName,
                         const KvoCore::Int64Set& entityIds) override;

    // Makes sure the query result is filled; false when the query failed.
    bool GetHmdResultIfNecessary();
    // The object of key becomes the current one; false (logged) when there is none.
    bool SetCurrentEntity(const wxString& key);

protected:
    CHostMetaDataIntegrityScanThread(KvoCore::CDom& dom, CSqlSubscan* subscan);

    // For PopulateAttributesOfInterest: the flags of TSet that are set, by name.
    template <typename TSet>
    static void AddMonitored(const CSqlEntity& entity, const CSqlEntitySet* set,
                             const std::vector<MonitorFlag<TSet>>& flags, KvoCore::MapStringToInt64Set& attributes) {
        const TSet& typed = *static_cast<const TSet*>(set);
        for (MonitorFlag<TSet> flag : flags)
            if (typed.*flag)
                KvoCore::AddToMapSet(attributes, typed.GetAttributeName(&(typed.*flag)), entity.m_entityId);
    }

private:
    const CKeyMatch& Matcher() const { return *static_cast<const CKeyMatch*>(GetKeyMatcher()); }
    void RecordObject(const CSqlEntitySet& set, const CSqlIntegrityRule& rule);

    KvoCore::CHostMetaDataQueryResult m_queryResult;
    bool m_queried = false;
    const KvoCore::CHostMetaData* m_currentObject = nullptr;
    size_t m_nextObject = 0;  // where SetCurrentEntity looks first
    CSqlEntity m_entity;      // reused for every insert
};

}  // namespace KvoPluginIm
