// CSyslogSettings: where and how syslog lines go, as configured by the element
// "/SecurityConfiguration/Syslog":
//
//   <Syslog server="collector.example" port="514" protocol="udp" format="2" facility="16"/>
//
// server   host name or address; empty or absent: syslog on, but no destination
// port     1-65535, default 514
// protocol "udp" or "tcp" (any case), default udp
// format   line format level, an integer 0 or more, default 2
// facility syslog facility number 0-23, default 16 (local0)
//
// The element absent (none of these attributes present) means syslog is off.
// A value that does not check turns syslog off as well: a destination is never
// guessed. A plain value object; not thread-safe.
#pragma once

#include <map>

#include <wx/string.h>

namespace KvoCore {

class CDom;

class CSyslogSettings {
public:
    enum class Protocol { Udp, Tcp };
    // The element's attribute texts by name; absent attributes are missing.
    using Texts = std::map<wxString, wxString>;

    static const wxChar* const s_ElementPath;
    static constexpr int s_DefaultPort = 514;
    static constexpr int s_DefaultFormatLevel = 2;
    static constexpr int s_DefaultFacility = 16;

    // The attribute texts of the element in the configuration in force.
    static Texts ReadTexts(const CDom& dom);

    // Off until Parse accepts an element.
    CSyslogSettings() = default;

    // Replaces the settings with those of texts. Empty texts (no element): off,
    // true. A value that does not check: off, false, and error names the
    // attribute, the value and what is expected.
    bool Parse(const Texts& texts, wxString& error);

    bool IsEnabled() const { return m_enabled; }
    // Enabled and a server named.
    bool HasDestination() const { return m_enabled && !m_server.empty(); }
    const wxString& GetServer() const { return m_server; }
    int GetPort() const { return m_port; }
    Protocol GetProtocol() const { return m_protocol; }
    int GetFormatLevel() const { return m_formatLevel; }
    int GetFacility() const { return m_facility; }
    // Same server, port and protocol (both without destination counts as same).
    bool SameDestination(const CSyslogSettings& other) const;
    // "tcp:collector.example:6514", for log lines.
    wxString DescribeDestination() const;

private:
    bool ParseServer(const Texts& texts, wxString& error);
    bool ParsePort(const Texts& texts, wxString& error);
    bool ParseProtocol(const Texts& texts, wxString& error);
    bool ParseFormatLevel(const Texts& texts, wxString& error);
    bool ParseFacility(const Texts& texts, wxString& error);

    bool m_enabled = false;
    wxString m_server;
    int m_port = s_DefaultPort;
    Protocol m_protocol = Protocol::Udp;
    int m_formatLevel = s_DefaultFormatLevel;
    int m_facility = s_DefaultFacility;
};

}  // namespace KvoCore
