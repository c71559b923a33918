// CGlobTranslator: turns an include/exclude glob or a base directory into the
// anchored regular expression the plug-in stores beside it and the matching
// code runs against entity keys.
//
// The translation is purely textual (it never looks at the file system) and
// depends only on the host path format given at construction: the separator
// written into the expression, whether globs are lower-cased (hosts whose file
// names ignore case) and the volume separator. The result is meant to be
// compiled with wxRE_EXTENDED | wxRE_NOSUB, plus wxRE_ICASE when IgnoresCase().
//
// Immutable after construction; safe to share between threads.
#pragma once

#include "plugins/im/StateKeys.h"

#include <wx/arrstr.h>
#include <wx/filename.h>
#include <wx/string.h>

namespace KvoPluginIm {

class CGlobTranslator {
public:
    explicit CGlobTranslator(wxPathFormat hostFormat);

    // The expression for pattern. splitFormat cuts the glob into components
    // (wxPATH_UNIX for include/exclude patterns); matchDescendants makes a base
    // directory also match everything below it; a non-hierarchical entity type
    // gets an empty result.
    wxString Translate(const wxString& pattern, wxPathFormat splitFormat, bool matchDescendants,
                       bool hierarchical) const;

    // The host separator as written inside an expression ("/" or "\\\\").
    const wxString& GetSeparator() const { return m_sep; }
    // True when globs were lower-cased: keys must then be compared ignoring case.
    bool IgnoresCase() const { return m_ignoreCase; }

    static const char* const s_Trace;  // Keys::kTracePattern

private:
    bool TranslateWholeGlob(const wxString& pattern, wxString& regEx) const;
    wxString PrepareGlob(const wxString& pattern) const;
    wxString StripTrailingForm(wxString& glob) const;
    void AppendVolume(const wxFileName& split, const wxString& pattern, bool matchDescendants,
                      wxString& regEx) const;
    void AppendComponents(const wxArrayString& components, wxString& regEx) const;
    void AppendComponent(const wxString& component, wxString& regEx) const;
    void FinishDescendants(wxString& regEx) const;
    // "([^SEP]*SEP)" followed by the given repetition.
    wxString AnyDirectories(const wxString& repeat) const;

    wxPathFormat m_hostFormat;
    wxString m_sep;
    wxString m_volumeSeparator;
    bool m_ignoreCase;
};

}  // namespace KvoPluginIm
