// CWxLogCapture: collects what wxWidgets logs on this thread while it lives.
// Some wx calls say why they failed (a text that does not parse, a match that
// gave up) only through wxLog; the capture turns that into a value, and the
// messages never reach the agent's log. The main thread has no target of its
// own in wx, so there the process-wide target is swapped for the capture's life.
#pragma once

#include <wx/log.h>
#include <wx/string.h>

namespace KvoCore {

class CWxLogCapture : public wxLog {
public:
    CWxLogCapture();
    ~CWxLogCapture() override;
    CWxLogCapture(const CWxLogCapture&) = delete;
    CWxLogCapture& operator=(const CWxLogCapture&) = delete;

    // The messages logged, separated by "; ".
    const wxString& Text() const { return m_text; }
    bool Reported() const { return m_reported; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& message, const wxLogRecordInfo& info) override;

private:
    bool m_main;
    wxLog* m_previous;
    wxString m_text;
    bool m_reported = false;
};

}  // namespace KvoCore
