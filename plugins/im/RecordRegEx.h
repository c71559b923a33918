// CRecordRegEx: a regular expression that records keep beside their columns
// (search expressions of entity sets, include/exclude patterns), compiled once
// and tested against entity keys.
//
// Globs may carry "+" and "|" into their expressions, so a rule can nest
// repetitions that backtrack exponentially. Matching is therefore bounded: a
// key that cannot be decided within the bound is logged as a warning naming the
// expression and the key, and takes the outcome its caller chose (callers
// choose the one that keeps the key monitored, so it is never silently lost).
//
// The expressions are only ever tested with Matches(), so they are compiled
// without subexpressions. Immutable after Compile; safe on any thread.
#pragma once

#include <memory>

#include <wx/regex.h>
#include <wx/string.h>

namespace KvoPluginIm {

class CRecordRegEx {
public:
    // The compiled expression, or null when source is empty or does not compile
    // (a stored expression that no longer compiles must not stop a scan).
    static std::unique_ptr<CRecordRegEx> Compile(const wxString& source, bool ignoreCase);
    // True when the host's native file names compare without regard to case.
    static bool NativeNamesIgnoreCase();

    // Whether key matches; ifUndecided when the bound is reached.
    bool Matches(const wxString& key, bool ifUndecided = true) const;
    const wxString& GetSource() const { return m_source; }

    CRecordRegEx(const CRecordRegEx&) = delete;
    CRecordRegEx& operator=(const CRecordRegEx&) = delete;

private:
    explicit CRecordRegEx(const wxString& source) : m_source(source) {}

    wxString m_source;
    wxRegEx m_regEx;
};

}  // namespace KvoPluginIm
