// CDatabaseRekey: re-writes a database file under another key (or none) in
// place, so that a crash at any moment leaves either the old file or the new
// one whole: the copy is written beside the file, synced, and renamed over it.
// The caller makes sure no other connection uses the file meanwhile (the
// agent holds its work-directory lock).
#pragma once

#include <wx/string.h>

#include "core/DatabaseKey.h"

namespace KvoCore {

class CDom;

class CDatabaseRekey {
public:
    // False with the reason when the file cannot be read with from or the copy
    // cannot be written; the file is then as it was.
    static bool Rewrite(CDom& dom, const wxString& path, const CDatabaseKey& from, const CDatabaseKey& to,
                        wxString& error);
    // Whether the file starts as a plain database does (an encrypted one never
    // shows that header).
    static bool IsPlain(const wxString& path);
    // Whether key opens the file (a plain key: whether it is a plain database).
    static bool Opens(CDom& dom, const wxString& path, const CDatabaseKey& key);
};

}  // namespace KvoCore
