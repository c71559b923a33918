#include "core/Syslogger.h"
#include "core/Version.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include "core/Log.h"
#include "core/Snprintfcat.h"

namespace KvoCore {

const char* const CSyslogger::s_Vendor = "kvo";
const char* const CSyslogger::s_Product = "kvo-agent";
const char* const CSyslogger::s_Version = kAgentVersion;

namespace {

const size_t kMaxHostName = 255;  // RFC 5424 HOSTNAME
const size_t kMaxMessageId = 32;  // RFC 5424 MSGID

bool IsPrintableAscii(char c) { return c > ' ' && c < 0x7F; }

// An RFC 5424 header field: printable ASCII only, at most maxLength, "-" when empty.
std::string HeaderField(const std::string& text, size_t maxLength) {
    std::string field = text.substr(0, maxLength);
    for (char& c : field)
        if (!IsPrintableAscii(c)) c = '_';
    return field.empty() ? "-" : field;
}

std::string LocalHostName() {
    char name[kMaxHostName + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

// The first IPv4 address of an interface that is up and not the loopback.
std::string FirstHostIPv4() {
    struct ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return std::string();
    std::string found;
    for (const struct ifaddrs* i = interfaces; i && found.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN];
        const auto* address = reinterpret_cast<const struct sockaddr_in*>(i->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) found = text;
    }
    freeifaddrs(interfaces);
    return found;
}

// RFC 3339 in UTC; "-" (the NILVALUE) for a time outside the years 0-9999.
std::string Timestamp(long timeSeconds) {
    const time_t time = static_cast<time_t>(timeSeconds);
    struct tm utc;
    if (!gmtime_r(&time, &utc) || utc.tm_year < -1900 || utc.tm_year > 9999 - 1900) return "-";
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string Utf8(const wxString& text) {
    const wxScopedCharBuffer bytes = text.utf8_str();
    return std::string(bytes.data(), bytes.length());
}

}  // namespace

CSyslogger::CSyslogger(CDom& dom, const char* facilityName)
    : m_dom(dom), m_messageId(HeaderField(facilityName ? facilityName : "", kMaxMessageId)) {
    m_headerCEF = "CEF:0|" + Utf8(EscapeCEFPrefix(s_Vendor)) + "|" + Utf8(EscapeCEFPrefix(s_Product)) + "|" +
                  Utf8(EscapeCEFPrefix(s_Version)) + "|";
    UpdateConfig();
}

void CSyslogger::UpdateConfig() {
    CSyslogSettings::Texts texts = CSyslogSettings::ReadTexts(m_dom);
    if (m_configRead && texts == m_texts) return;
    m_configRead = true;
    m_texts = std::move(texts);
    CSyslogSettings next;
    wxString error;
    if (!next.Parse(m_texts, error)) LogError("syslog: " + error + "; syslog output is off");
    if (!next.SameDestination(m_settings)) {
        m_transport.Close();
        m_reportedFailure.clear();
    }
    m_settings = next;
}

bool CSyslogger::Open() {
    if (!HasDestination()) {
        errno = EDESTADDRREQ;
        return false;
    }
    const bool wasOpen = m_transport.IsOpen();
    wxString error;
    if (!m_transport.Open(m_settings, error)) {
        ReportFailure(error);
        return false;
    }
    if (!wasOpen) {
        RefreshHostIdentity();
        ReportRecovery();
    }
    return true;
}

bool CSyslogger::Send(const char* line, const long& timeSeconds) {
    if (!line) {
        errno = EINVAL;
        return false;
    }
    if (!Open()) return false;
    BuildMessage(line, timeSeconds);
    wxString error;
    if (m_transport.Send(m_message.data(), m_message.size(), error)) {
        ReportRecovery();
        return true;
    }
    ReportFailure(error);
    return false;
}

void CSyslogger::BuildMessage(const char* line, long timeSeconds) {
    if (!m_identityKnown) RefreshHostIdentity();
    char header[512];
    snprintf(header, sizeof header, "<%d>1 %s %s %s %d %s - ", m_settings.GetFacility() * 8 + s_Severity,
             Timestamp(timeSeconds).c_str(), m_hostName.c_str(), s_Product, static_cast<int>(getpid()),
             m_messageId.c_str());
    m_message = header;
    m_message += line;
}

bool CSyslogger::AppendHeaderCEF(char* buffer, unsigned long size) const {
    return snprintfcat(buffer, size, "%s", m_headerCEF.c_str());
}

bool CSyslogger::AppendHostIdentityCEF(int formatLevel, char* buffer, unsigned long size) {
    if (!m_identityKnown) RefreshHostIdentity();
    if (!snprintfcat(buffer, size, "dvchost=%s", m_hostNameCEF.c_str())) return false;
    if (formatLevel < 2 || m_hostAddress.empty()) return true;
    return snprintfcat(buffer, size, " dvc=%s", m_hostAddress.c_str());
}

void CSyslogger::RefreshHostIdentity() {
    const std::string name = LocalHostName();
    m_hostName = HeaderField(name, kMaxHostName);
    m_hostNameCEF = Utf8(EscapeCEFExtension(wxString::FromUTF8(name.c_str())));
    m_hostAddress = FirstHostIPv4();
    m_identityKnown = true;
}

void CSyslogger::ReportFailure(const wxString& reason) {
    if (reason == m_reportedFailure) return;
    const int failure = errno;
    m_reportedFailure = reason;
    LogError("syslog: " + reason);
    errno = failure;
}

void CSyslogger::ReportRecovery() {
    if (m_reportedFailure.empty()) return;
    m_reportedFailure.clear();
    LogInfo("syslog: sending to " + m_settings.DescribeDestination() + " again");
}

wxString CSyslogger::EscapeCEFPrefix(const wxString& text) {
    wxString escaped;
    escaped.reserve(text.length());
    for (auto c = text.begin(); c != text.end(); ++c) {
        if (*c == '\\' || *c == '|') {
            escaped += '\\';
            escaped += *c;
        } else if (*c == '\r' || *c == '\n') {
            escaped += ' ';
            auto next = c + 1;
            if (*c == '\r' && next != text.end() && *next == '\n') c = next;
        } else {
            escaped += *c;
        }
    }
    return escaped;
}

wxString CSyslogger::EscapeCEFExtension(const wxString& text) {
    wxString escaped;
    escaped.reserve(text.length());
    for (wxUniChar c : text) {
        if (c == '\\' || c == '=') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace KvoCore
