// CRecordRegEx: compiles the regular expressions that records keep beside
// their columns (search expressions of entity sets, include/exclude patterns).
//
// The expressions are only ever tested with Matches(), so they are compiled
// without subexpressions. Stateless; safe on any thread.
#pragma once

#include <memory>

#include <wx/string.h>

class wxRegEx;

namespace KvoPluginIm {

class CRecordRegEx {
public:
    // The compiled expression, or null when source is empty or does not compile
    // (a stored expression that no longer compiles must not stop a scan).
    static std::unique_ptr<wxRegEx> Compile(const wxString& source, bool ignoreCase);
    // True when the host's native file names compare without regard to case.
    static bool NativeNamesIgnoreCase();
};

}  // namespace KvoPluginIm
