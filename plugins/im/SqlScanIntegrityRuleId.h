// CSqlScanIntegrityRuleId: one row of "ScanIntegrityRuleIds" (a rule that a
// scan covers), and its list. No key column.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlScanIntegrityRuleId : public KvoCore::XMLObject {
public:
    CSqlScanIntegrityRuleId();

    static wxString ElementName() { return wxT("ScanIntegrityRuleId"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_scanId = 0;
    long long m_integrityRuleId = 0;
};

class CSqlScanIntegrityRuleIds : public CSqlRecordList<CSqlScanIntegrityRuleId> {};

}  // namespace KvoPluginIm
