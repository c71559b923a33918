#include "core/SyslogSettings.h"

#include <limits.h>

#include "core/Dom.h"

namespace KvoCore {

const wxChar* const CSyslogSettings::s_ElementPath = wxT("/SecurityConfiguration/Syslog");

namespace {

const wxChar* const kAttributeNames[] = {wxT("server"), wxT("port"), wxT("protocol"), wxT("format"),
                                         wxT("facility")};

// The attribute's trimmed text; false when it is absent.
bool Lookup(const CSyslogSettings::Texts& texts, const wxChar* name, wxString& value) {
    auto found = texts.find(name);
    if (found == texts.end()) return false;
    value = found->second;
    value.Trim(true).Trim(false);
    return true;
}

wxString Invalid(const wxChar* name, const wxString& value, const wxString& expected) {
    return wxString::Format("attribute %s of %s has the invalid value \"%s\" (expected %s)", name,
                            CSyslogSettings::s_ElementPath, value, expected);
}

// A decimal integer within [low, high]; absent keeps value.
bool ParseNumber(const CSyslogSettings::Texts& texts, const wxChar* name, long low, long high,
                 const wxString& expected, int& value, wxString& error) {
    wxString text;
    if (!Lookup(texts, name, text)) return true;
    long number = 0;
    if (!text.ToLong(&number) || number < low || number > high) {
        error = Invalid(name, text, expected);
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

}  // namespace

CSyslogSettings::Texts CSyslogSettings::ReadTexts(const CDom& dom) {
    Texts texts;
    for (const wxChar* name : kAttributeNames) {
        wxString value;
        if (dom.ConfigGetAttribute(s_ElementPath, name, value)) texts[name] = value;
    }
    return texts;
}

bool CSyslogSettings::Parse(const Texts& texts, wxString& error) {
    *this = CSyslogSettings();
    if (texts.empty()) return true;
    CSyslogSettings parsed;
    if (!parsed.ParseServer(texts, error) || !parsed.ParsePort(texts, error) ||
        !parsed.ParseProtocol(texts, error) || !parsed.ParseFormatLevel(texts, error) ||
        !parsed.ParseFacility(texts, error))
        return false;
    parsed.m_enabled = true;
    *this = parsed;
    return true;
}

bool CSyslogSettings::ParseServer(const Texts& texts, wxString& error) {
    wxString server;
    if (!Lookup(texts, wxT("server"), server)) return true;
    for (wxUniChar c : server) {
        if (c <= ' ' || c == 0x7F) {
            error = Invalid(wxT("server"), server, "a host name or address");
            return false;
        }
    }
    m_server = server;
    return true;
}

bool CSyslogSettings::ParsePort(const Texts& texts, wxString& error) {
    return ParseNumber(texts, wxT("port"), 1, 65535, "a port number 1-65535", m_port, error);
}

bool CSyslogSettings::ParseProtocol(const Texts& texts, wxString& error) {
    wxString protocol;
    if (!Lookup(texts, wxT("protocol"), protocol)) return true;
    if (protocol.CmpNoCase("udp") == 0) {
        m_protocol = Protocol::Udp;
    } else if (protocol.CmpNoCase("tcp") == 0) {
        m_protocol = Protocol::Tcp;
    } else {
        error = Invalid(wxT("protocol"), protocol, "udp or tcp");
        return false;
    }
    return true;
}

bool CSyslogSettings::ParseFormatLevel(const Texts& texts, wxString& error) {
    return ParseNumber(texts, wxT("format"), 0, INT_MAX, "a format level 0 or more", m_formatLevel, error);
}

bool CSyslogSettings::ParseFacility(const Texts& texts, wxString& error) {
    return ParseNumber(texts, wxT("facility"), 0, 23, "a facility number 0-23", m_facility, error);
}

bool CSyslogSettings::SameDestination(const CSyslogSettings& other) const {
    if (!HasDestination() || !other.HasDestination()) return HasDestination() == other.HasDestination();
    return m_server == other.m_server && m_port == other.m_port && m_protocol == other.m_protocol;
}

wxString CSyslogSettings::DescribeDestination() const {
    if (!HasDestination()) return "(none)";
    const bool ipv6 = m_server.Find(':') != wxNOT_FOUND;
    return wxString::Format(ipv6 ? "%s:[%s]:%d" : "%s:%s:%d", m_protocol == Protocol::Tcp ? "tcp" : "udp",
                            m_server, m_port);
}

}  // namespace KvoCore
