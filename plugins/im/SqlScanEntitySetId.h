// CSqlScanEntitySetId: one row of "ScanEntitySetIds" (an entity set that a
// scan covers), and its list. No key column.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlScanEntitySetId : public KvoCore::XMLObject {
public:
    CSqlScanEntitySetId();

    static wxString ElementName() { return wxT("ScanEntitySetId"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_scanId = 0;
    wxString m_entityType;
    long long m_entitySetId = 0;
};

class CSqlScanEntitySetIds : public CSqlRecordList<CSqlScanEntitySetId> {};

}  // namespace KvoPluginIm
