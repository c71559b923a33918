// CEntityTypeInfo: the entity sets of one type with their includes and
// excludes, for deciding which sets a single changed key belongs to.
//
// Does not own the entity-set list nor the key matcher, which must outlive
// it; owns its CEntitySetInfo objects. Not thread-safe: the real-time object
// that holds it serialises calls.
#pragma once

#include <memory>
#include <vector>

#include <wx/string.h>

#include "core/Utilities.h"
#include "plugins/im/EntitySetInfo.h"

class wxSQLite3Database;

namespace KvoCore {
class XMLObjectList;
}

namespace KvoPluginIm {

class CSystemIntegrityKeyMatch;

using CEntitySetInfoPtrList = std::vector<std::unique_ptr<CEntitySetInfo>>;

class CEntityTypeInfo {
public:
    CEntityTypeInfo(KvoCore::XMLObjectList* entitySets, CSystemIntegrityKeyMatch* matcher)
        : m_entitySets(entitySets), m_matcher(matcher) {}
    CEntityTypeInfo(const CEntityTypeInfo&) = delete;
    CEntityTypeInfo& operator=(const CEntityTypeInfo&) = delete;

    // (Re)loads the sets: all of them, or only those taking part in real-time
    // monitoring, and optionally only those of the rules of the newest scan.
    void Init(wxSQLite3Database& db, bool onChangeOnly, bool limitToScanRuleIds);
    void Init(wxSQLite3Database& db, bool onChangeOnly) { Init(db, onChangeOnly, false); }

    // Adds the id of every set that includes key; reason gets the largest
    // unmatched reason seen.
    bool IsIncluded(const wxString& key, unsigned long depth, KvoCore::Int64Set& matchedEntitySetIds,
                    int& reason) const;
    bool IsIncluded(const wxString& key, unsigned long depth, KvoCore::Int64Set& matchedEntitySetIds) const;

    const CEntitySetInfoPtrList& GetEntitySetInfos() const { return m_setInfos; }

private:
    static KvoCore::Int64Set RuleIdsOfNewestScan(wxSQLite3Database& db);
    bool SetIncludes(const CEntitySetInfo& info, const wxString& key, unsigned long depth, int& reason) const;

    KvoCore::XMLObjectList* m_entitySets;
    CSystemIntegrityKeyMatch* m_matcher;
    CEntitySetInfoPtrList m_setInfos;
};

}  // namespace KvoPluginIm
