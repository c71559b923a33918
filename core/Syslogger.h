// CSyslogger: sends CEF lines to the syslog server configured by the element
// "/SecurityConfiguration/Syslog" (see SyslogSettings.h for its attributes).
//
// Each line travels as one RFC 5424 message
//
//   <PRI>1 TIMESTAMP HOSTNAME kvo-agent PROCID MSGID - LINE
//
// PRI is facility * 8 + 5: every line reports a normal but significant
// condition (severity 5, notice); the CEF severity inside the line says how
// grave it is. TIMESTAMP is the caller's time in UTC ("2024-05-06T07:08:09Z"),
// HOSTNAME the host's name, APP-NAME always "kvo-agent", PROCID the agent's
// process id, and MSGID the name the owner gave the syslogger (the
// integrity monitor uses "integrity"), so a collector can tell the senders of
// one agent apart. The line is sent as MSG-ANY, without a byte order mark, so
// that it starts with "CEF:0|" for CEF parsers. Transport: CSyslogTransport
// (UDP datagrams, or TCP with octet counting).
//
// A CEF line is assembled by the caller in a byte buffer:
//   AppendHeaderCEF        "CEF:0|kvo|kvo-agent|<version>|"
//   (caller)               "sigid|name|severity|"
//   AppendHostIdentityCEF  "dvchost=<host name>" and, from format level 2,
//                          " dvc=<IPv4 address>" (the first non-loopback IPv4
//                          address of an interface that is up; left out when
//                          there is none)
//   (caller)               " act=..." and further extension fields
// Prefix fields are escaped with EscapeCEFPrefix, extension values with
// EscapeCEFExtension.
//
// Failures to reach the server are logged once per reason, not per line; the
// caller gets false and errno. Thread safety: none. Each thread that sends
// (each scanner thread) owns its own CSyslogger. Not copyable.
#pragma once

#include <string>

#include <wx/string.h>

#include "core/Dom.h"
#include "core/SyslogSettings.h"
#include "core/SyslogTransport.h"

namespace KvoCore {

class CSyslogger {
public:
    static const char* const s_Vendor;    // "kvo"
    static const char* const s_Product;   // "kvo-agent", also the RFC 5424 APP-NAME
    static const char* const s_Version;   // the agent's version
    static constexpr int s_Severity = 5;      // RFC 5424 notice

    // facilityName becomes the RFC 5424 MSGID (printable ASCII, at most 32
    // characters; anything else is replaced by '_'). Reads the configuration.
    CSyslogger(CDom& dom, const char* facilityName);
    CSyslogger(const CSyslogger&) = delete;
    CSyslogger& operator=(const CSyslogger&) = delete;

    // Re-reads the configuration. Unchanged attribute texts cost five lookups
    // and nothing else; a changed destination closes the transport; an invalid
    // value is logged (once per change) and turns syslog off.
    void UpdateConfig();
    // The element is present and valid.
    bool IsEnabled() const { return m_settings.IsEnabled(); }
    // Enabled and a server is named: lines can go somewhere.
    bool HasDestination() const { return m_settings.HasDestination(); }
    int GetFormatLevel() const { return m_settings.GetFormatLevel(); }
    const CSyslogSettings& GetSettings() const { return m_settings; }

    // Resolves the server and connects (TCP within a bounded time). True at once
    // while open. False when off, without destination, or failing (the reason
    // logged once), with errno set.
    bool Open();
    bool IsOpen() const { return m_transport.IsOpen(); }
    void Close() { m_transport.Close(); }

    // Sends line (UTF-8, NUL-terminated) stamped with timeSeconds (seconds
    // since the epoch). Opens the transport when needed. False with errno set
    // (EDESTADDRREQ when syslog is off or has no destination).
    bool Send(const char* line, const long& timeSeconds);

    // Append to the NUL-terminated text in buffer (size bytes in all), cut to
    // fit; true when everything fitted.
    bool AppendHeaderCEF(char* buffer, unsigned long size) const;
    bool AppendHostIdentityCEF(int formatLevel, char* buffer, unsigned long size);

    // CEF prefix field: "\" and "|" get a backslash; a line break (CR, LF or
    // CR LF) becomes one blank.
    static wxString EscapeCEFPrefix(const wxString& text);
    // CEF extension value: "\" and "=" get a backslash; CR and LF are written
    // as \r and \n.
    static wxString EscapeCEFExtension(const wxString& text);

private:
    void RefreshHostIdentity();
    void BuildMessage(const char* line, long timeSeconds);
    // Logs reason unless it is the one logged last; keeps errno.
    void ReportFailure(const wxString& reason);
    void ReportRecovery();

    CDom m_dom;
    std::string m_messageId;
    std::string m_headerCEF;
    bool m_configRead = false;
    CSyslogSettings::Texts m_texts;
    CSyslogSettings m_settings;
    CSyslogTransport m_transport;
    wxString m_reportedFailure;
    bool m_identityKnown = false;
    std::string m_hostName;       // RFC 5424 HOSTNAME ("-" when unusable)
    std::string m_hostNameCEF;    // escaped for the CEF extension
    std::string m_hostAddress;    // IPv4 text, empty when none
    std::string m_message;        // reused for each line
};

}  // namespace KvoCore
