#include "plugins/im/RecordRegEx.h"

#include <wx/filename.h>
#include <wx/log.h>
#include <wx/regex.h>

#include "core/Log.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

std::unique_ptr<wxRegEx> CRecordRegEx::Compile(const wxString& source, bool ignoreCase) {
    if (source.empty()) return nullptr;
    auto regEx = std::make_unique<wxRegEx>();
    bool compiled;
    {
        // wxRegEx reports a bad expression through wxLogError; here it is an
        // expected outcome, traced instead.
        wxLogNull quiet;
        compiled = regEx->Compile(source, wxRE_EXTENDED | wxRE_NOSUB | (ignoreCase ? wxRE_ICASE : 0));
    }
    if (!compiled) {
        KVO_TRACE(Keys::kTracePattern, wxT("Regular expression '%s' does not compile"), source);
        return nullptr;
    }
    return regEx;
}

bool CRecordRegEx::NativeNamesIgnoreCase() { return !wxFileName::IsCaseSensitive(wxPATH_NATIVE); }

}  // namespace KvoPluginIm
