// CSqlRealtimeChangeDetail: one row of the relation "RealtimeChangeDetails"
// (a real-time change joined with one of its details: the change columns,
// then the detail columns), and its list. Read-only: the relation is a view.
#pragma once

#include <wx/string.h>

#include "plugins/im/SqlRealtimeChange.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlRealtimeChangeDetail : public CSqlRealtimeChange {
public:
    CSqlRealtimeChangeDetail();

    static wxString ElementName() { return wxT("RealtimeChangeDetail"); }
    wxString GetElementName() const override { return ElementName(); }

    int m_change = 0;
    long long m_whenChangedFirst = 0;
    long long m_whenChangedLast = 0;
    wxString m_keyCanonicalOld;
    wxString m_user;
    wxString m_process;
};

class CSqlRealtimeChangeDetails : public CSqlRecordList<CSqlRealtimeChangeDetail> {};

}  // namespace KvoPluginIm
