// CSqlEntitySet: abstract base of the entity-set records, one row of a
// "<type>Sets" table.
//
// Columns are public members; a record calls UseNullDefaults(), so a member
// the writer does not set (and clear with SetAttributeNull(&m, false)) is
// written as SQL NULL, and a NULL column loads as the member's default with
// its NULL mark set. Each concrete kind names its entity type (EntityType())
// and its table is that type + "Sets".
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"

namespace KvoPluginIm {

class CRecordRegEx;

class CSqlEntitySet : public KvoCore::XMLObject {
public:
    CSqlEntitySet();

    virtual wxString GetEntityType() const = 0;
    // Where the set's keys start ("" for kinds whose keys are not paths).
    virtual const wxString& GetSearchBase() const;
    // The compiled expression a key's base must match, or null when the set
    // has none; owned by the record and valid until its next load.
    virtual const CRecordRegEx* GetSearchRegEx() const;
    // True when keys are paths, compared component by component.
    virtual bool HasHierarchicalNames() const;

    long long m_entitySetId = 0;  // key
    long long m_integrityRuleId = 0;
    bool m_onChange = true;  // takes part in real-time monitoring
};

}  // namespace KvoPluginIm
