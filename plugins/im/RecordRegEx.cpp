#include "plugins/im/RecordRegEx.h"

#include <wx/filename.h>
#include <wx/log.h>

#include "core/Log.h"
#include "core/WxLogCapture.h"
#include "plugins/im/StateKeys.h"

namespace KvoPluginIm {

namespace {

// Backtracking steps one match may take. Translated globs without "+" stay far
// below it even on keys of PATH_MAX; a runaway expression gives up within tens
// of milliseconds instead of stalling a scan for seconds per key.
const wxString kMatchBound = wxT("(*LIMIT_MATCH=1000000)(*LIMIT_DEPTH=1000000)");

// Every backtracking step copies a frame that holds all capture groups, so a
// long glob (a group per wildcard) made each step slow. Nothing reads the groups;
// only a back reference ("\1", "\g1", which a glob's backslash can pass through)
// needs them numbered.
wxString WithoutCaptures(const wxString& source) {
    for (size_t at = source.find('\\'); at != wxString::npos && at + 1 < source.length();
         at = source.find('\\', at + 2)) {
        const wxUniChar next = source[at + 1];
        if (next == 'g' || (next >= '1' && next <= '9')) return source;
    }
    return wxT("(?n)") + source;
}

}  // namespace

std::unique_ptr<CRecordRegEx> CRecordRegEx::Compile(const wxString& source, bool ignoreCase) {
    if (source.empty()) return nullptr;
    std::unique_ptr<CRecordRegEx> regEx(new CRecordRegEx(source));
    bool compiled;
    {
        // wxRegEx reports a bad expression through wxLogError; here it is an
        // expected outcome, traced instead.
        wxLogNull quiet;
        compiled = regEx->m_regEx.Compile(kMatchBound + WithoutCaptures(source),
                                          wxRE_EXTENDED | wxRE_NOSUB | (ignoreCase ? wxRE_ICASE : 0));
    }
    if (!compiled) {
        KVO_TRACE(Keys::kTracePattern, wxT("Regular expression '%s' does not compile"), source);
        return nullptr;
    }
    return regEx;
}

bool CRecordRegEx::Matches(const wxString& key, bool ifUndecided) const {
    bool matched;
    bool undecided;
    {
        // wxRegEx reports a match that gave up only through wxLog.
        KvoCore::CWxLogCapture capture;
        matched = m_regEx.Matches(key);
        undecided = !matched && capture.Reported();
    }
    if (!undecided) return matched;
    KvoCore::LogWarning(wxString::Format(
        wxT("Pattern '%s' is too costly to match against '%s' (matching gave up); the key is taken as %s"),
        m_source, key, ifUndecided ? wxT("matching") : wxT("not matching")));
    return ifUndecided;
}

bool CRecordRegEx::NativeNamesIgnoreCase() { return !wxFileName::IsCaseSensitive(wxPATH_NATIVE); }

}  // namespace KvoPluginIm
