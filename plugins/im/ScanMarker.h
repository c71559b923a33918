// CScanMarker: a row of "Entitys" that exists only for the entityId it is
// given, which tells the highest entity id at that moment: "-ScanStart-" and
// "-ScanEnd-" bracket what a scan recorded. The caller deletes it again at
// once, normally inside the same transaction. Markers are counted in the
// module's metrics.
#pragma once

#include <wx/string.h>

namespace KvoCore {
class CSqliteDatabase;
}

namespace KvoPluginIm {

class CScanMarker {
public:
    static const wxChar* const s_ScanStart;  // "-ScanStart-"
    static const wxChar* const s_ScanEnd;    // "-ScanEnd-"

    // The new row's entityId. Database errors are thrown (wxSQLite3Exception).
    static long long Insert(KvoCore::CSqliteDatabase& db, const wxChar* entityType);
    // The number of rows deleted.
    static int Delete(KvoCore::CSqliteDatabase& db, long long entityId);
};

}  // namespace KvoPluginIm
