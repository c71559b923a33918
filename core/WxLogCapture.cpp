#include "core/WxLogCapture.h"

#include <wx/thread.h>

namespace KvoCore {

CWxLogCapture::CWxLogCapture() : m_main(wxThread::IsMain()) {
    m_previous = m_main ? wxLog::SetActiveTarget(this) : wxLog::SetThreadActiveTarget(this);
}

CWxLogCapture::~CWxLogCapture() {
    if (m_main)
        wxLog::SetActiveTarget(m_previous);
    else
        wxLog::SetThreadActiveTarget(m_previous);
}

void CWxLogCapture::DoLogRecord(wxLogLevel, const wxString& message, const wxLogRecordInfo&) {
    m_reported = true;
    if (!m_text.empty()) m_text += wxT("; ");
    m_text += message;
}

}  // namespace KvoCore
