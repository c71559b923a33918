#include "agent/ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace KvoAgent {

CProgressLine::CProgressLine(FILE* stream) : m_stream(stream), m_active(isatty(fileno(stream)) == 1) {}

CProgressLine::~CProgressLine() { Clear(); }

size_t CProgressLine::Width() const {
    struct winsize size = {};
    if (ioctl(fileno(m_stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
    return 79;
}

wxString CProgressLine::Fit(const wxString& head, const wxString& detail, size_t width) {
    static const wxString kGap = "...";
    if (head.length() + detail.length() <= width) return head + detail;
    if (head.length() + kGap.length() >= width) return head.Left(width);
    // The end of a path says more than its beginning.
    return head + kGap + detail.Right(width - head.length() - kGap.length());
}

void CProgressLine::Show(const wxString& head, const wxString& detail) {
    if (!m_active) return;
    // Carriage return, the text, then erase whatever an older, longer line left.
    fprintf(m_stream, "\r%s\033[K", static_cast<const char*>(Fit(head, detail, Width()).utf8_str()));
    fflush(m_stream);
    m_shown = true;
}

void CProgressLine::Clear() {
    if (!m_shown) return;
    fputs("\r\033[K", m_stream);
    fflush(m_stream);
    m_shown = false;
}

}  // namespace KvoAgent
