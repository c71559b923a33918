// CSqlRealtimeChange: one row of "RealtimeChanges" (a settled real-time change
// of one key, waiting for a real-time scan), and its list.
//
// The key column is AUTOINCREMENT: ids are never reused, so a consumer that
// remembers the last id it took never mistakes a new change for an old one.
#pragma once

#include <wx/string.h>

#include "core/XMLObject.h"
#include "plugins/im/SqlRecordList.h"

namespace KvoPluginIm {

class CSqlRealtimeChange : public KvoCore::XMLObject {
public:
    CSqlRealtimeChange();

    static wxString ElementName() { return wxT("RealtimeChange"); }
    wxString GetElementName() const override { return ElementName(); }

    long long m_realtimeChangeId = 0;  // key
    wxString m_entityType;
    wxString m_keyCanonical;
    wxString m_entitySetIds;  // the ids of the sets the change belongs to, as one text
};

class CSqlRealtimeChanges : public CSqlRecordList<CSqlRealtimeChange> {};

}  // namespace KvoPluginIm
