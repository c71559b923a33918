// CSqlEntity: one row of "Entitys" (one version of a monitored entity), and
// its list CSqlEntitys.
//
// The record owns a child list of attribute records (CSqlAttributes). The
// base's SQL touches the entity's own row only: callers insert and load the
// attribute rows themselves, by entityId.
//
// supercededBy: NULL for the current version, 0 for a current version not yet
// seen again by the running scan, -1 for a deleted entity or retired rule, and
// the entityId of the newer version otherwise.
#pragma once

#include <wx/buffer.h>
#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlAttribute.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlEntity : public KvoCore::XMLObject {
public:
    CSqlEntity();

    static wxString ElementName() { return wxT("Entity"); }
    wxString GetElementName() const override { return ElementName(); }

    // Takes ownership of attribute.
    void AppendAttribute(CSqlAttribute* attribute) { m_attributeList.Append(attribute); }
    const CSqlAttributes& GetAttributes() const { return m_attributeList; }
    CSqlAttributes& GetAttributes() { return m_attributeList; }

    // Defaults, then the columns a scan knows of a new version, set and marked not NULL.
    void SetFound(const wxString& entityType, long long entitySetId, long long integrityRuleId,
                  const wxString& keyCanonical, const wxString& key, long long whenScanned);
    // The severity of the entity's rule, marked not NULL.
    void SetSeverity(int severity);

    long long m_entityId = 0;  // key
    wxString m_entityType;
    long long m_entitySetId = 0;
    long long m_integrityRuleId = 0;
    int m_integrityRuleSeverity = 0;
    wxString m_keyCanonical;  // the key as matched (case-folded where names ignore case)
    wxString m_key;           // the key as found
    long long m_whenScanned = 0;
    wxMemoryBuffer m_attributeHash{20};  // room for a SHA-1 digest
    long long m_supercededBy = 0;
    long long m_eventDropped = 0;

private:
    CSqlAttributes m_attributeList;
};

class CSqlEntitys : public CSqlRecordList<CSqlEntity> {};

}  // namespace KvoPluginIm
