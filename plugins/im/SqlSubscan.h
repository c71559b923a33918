// CSqlSubscan: one row of "Subscans" (the part of a scan that one scanner
// thread does for one entity type, with its resumable step), and its list.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlSubscan : public KvoCore::XMLObject {
public:
    CSqlSubscan();

    static wxString ElementName() { return wxT("Subscan"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_subscanId = 0;  // key
    long long m_scanId = 0;
    long long m_startTime = 0;
    long long m_endTime = 0;
    wxString m_entityType;
    long long m_numEntitiesDeleted = 0;
    int m_scanStep = 0;         // the next step to run
    wxString m_checkpointInfo;  // where the step got to
};

class CSqlSubscans : public CSqlRecordList<CSqlSubscan> {};

}  // namespace KvoPluginIm
