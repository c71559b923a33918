// CSqlChangeDetail: one row of "ChangeDetails" (one change of a real-time
// change's key: what, when, by whom), and its list. No key column.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlChangeDetail : public KvoCore::XMLObject {
public:
    CSqlChangeDetail();

    static wxString ElementName() { return wxT("ChangeDetail"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_realtimeChangeId = 0;
    int m_change = 0;  // 1 create, 2 update, 3 delete, 4 rename
    long long m_whenChangedFirst = 0;
    long long m_whenChangedLast = 0;
    wxString m_keyCanonicalOld;  // the key before a rename
    wxString m_user;
    wxString m_process;
};

class CSqlChangeDetails : public CSqlRecordList<CSqlChangeDetail> {};

}  // namespace KvoPluginIm
