// CSqlIntegrityRule: one row of "IntegrityRules", the stored form of a
// configured rule, and its list.
//
// The rule's id attribute is registered again as "integrityRuleId", the key;
// the insert supplies the configured id rather than letting the database pick
// one. Only the rule's own attributes are columns: its entity sets are rows of
// the set tables. The rule model keeps its members private, so a row is
// filled from a parsed rule with AssignFrom.
#pragma once

#include <wx/string.h>

#include "plugins/im/IntegrityRule.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlIntegrityRule : public CIntegrityRule {
public:
    CSqlIntegrityRule();

    static wxString ElementName() { return wxT("IntegrityRule"); }
    wxString GetElementName() const override { return ElementName(); }

    // Copies every column (id, name, allowOnChange, confidential, hash,
    // identifier, severity, type) of rule and marks it not NULL; the rule's
    // sets are not copied. False if a value did not carry over.
    bool AssignFrom(const CIntegrityRule& rule);
};

class CSqlIntegrityRules : public CSqlRecordList<CSqlIntegrityRule> {};

}  // namespace KvoPluginIm
