// CProgressLine: one line of progress, rewritten in place on a terminal.
// On anything else (a file, a pipe) it writes nothing, so that logs and
// scripts see only the final report. Not thread-safe.
#pragma once

#include <cstdio>

#include <wx/string.h>

namespace KvoAgent {

class CProgressLine {
public:
    explicit CProgressLine(FILE* stream);
    ~CProgressLine();
    CProgressLine(const CProgressLine&) = delete;
    CProgressLine& operator=(const CProgressLine&) = delete;

    bool Active() const { return m_active; }
    // Replaces the line with head and detail; when they are wider than the
    // terminal, detail (a path, say) loses its beginning first.
    void Show(const wxString& head, const wxString& detail);
    // Removes the line, so that the next output starts on a clean one.
    void Clear();

private:
    static wxString Fit(const wxString& head, const wxString& detail, size_t width);
    size_t Width() const;

    FILE* m_stream;
    bool m_active;
    bool m_shown = false;
};

}  // namespace KvoAgent
