// CSqlScan: one row of "Scans" (one baseline, incremental, real-time or
// pseudo-real-time scan), and its list.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlScan : public KvoCore::XMLObject {
public:
    CSqlScan();

    static wxString ElementName() { return wxT("Scan"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_scanId = 0;  // key
    long long m_startTime = 0;
    long long m_endTime = 0;  // NULL while the scan runs
    long long m_startingHighestExistingEntityId = 0;
    long long m_endingHighestExistingEntityId = 0;
    int m_incrementalScan = 0;  // 0 baseline, 1 incremental, 2 real-time, 3 pseudo-real-time
};

class CSqlScans : public CSqlRecordList<CSqlScan> {};

}  // namespace KvoPluginIm
