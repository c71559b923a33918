// RTIM_Miss_Entry: one directory where real-time change notification failed,
// with the file names or extension patterns ("*.log") missed in it. Entries
// live in the module's missed-change table and are touched only under its lock.
#pragma once

#include <map>

#include <wx/string.h>

namespace KvoPluginIm {

struct RTIM_Miss_Entry {
    long long hitcount = 0;  // misses and covered changes seen for the directory
    long long dropped = 0;   // names not recorded because the entry was full
    long long lasttime = 0;  // TimeNowMillis() of the last hit
    wxString path;           // the directory, as the table's key
    std::map<wxString, int> names;  // name or "*." + extension -> hits; empty: the whole directory
};

}  // namespace KvoPluginIm
