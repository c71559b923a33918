// DecryptDatabase: writes a plain copy of an encrypted integrity database, the
// work behind the module's "DecryptDatabase_l".
#pragma once

#include <wx/string.h>

namespace KvoCore {
class CDom;
}

namespace KvoPluginIm {

// keyText as CDatabaseKey::FromKeyText reads it. True with the
// source's entity count as text; false when a step failed, which is logged,
// and then no target file is left behind.
bool DecryptDatabase(KvoCore::CDom& dom, const wxString& keyText, const wxString& source,
                     const wxString& target, wxString& entityCount);

}  // namespace KvoPluginIm
