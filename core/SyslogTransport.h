// CSyslogTransport: the socket to one syslog server.
//
// UDP: a connected datagram socket; each message is one datagram, cut (at a
// UTF-8 character boundary) to the largest datagram the address family
// carries. TCP: octet counting ("LEN SP MSG", RFC 6587); connecting waits at
// most s_ConnectTimeoutMs and a send that cannot progress for s_SendTimeoutMs
// fails, so a stalled server never holds a scanner for long. Because a syslog
// server never writes to its clients, a TCP socket that turns readable has been
// closed by the server; that is checked before each message and the connection
// is made again, and a send that still fails because the server closed is
// retried once on a new connection. A connected UDP socket that reports the
// server unreachable (an earlier datagram's ICMP answer) retries once as well.
//
// Not thread-safe: one owner. Not copyable.
#pragma once

#include <stddef.h>

#include <string>

#include <wx/string.h>

#include "core/SyslogSettings.h"

namespace KvoCore {

class CSyslogTransport {
public:
    static constexpr int s_ConnectTimeoutMs = 5000;
    static constexpr int s_SendTimeoutMs = 5000;
    static constexpr size_t s_MaxUdpPayloadIPv4 = 65507;
    static constexpr size_t s_MaxUdpPayloadIPv6 = 65527;

    CSyslogTransport() = default;
    ~CSyslogTransport();
    CSyslogTransport(const CSyslogTransport&) = delete;
    CSyslogTransport& operator=(const CSyslogTransport&) = delete;

    // Resolves the destination and connects to the first address that answers.
    // True at once while open. False with errno set and the reason in error.
    bool Open(const CSyslogSettings& settings, wxString& error);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Sends one syslog message (without framing for the transport). Reopens a
    // closed connection with the settings of the last Open. False with errno
    // set and the reason in error.
    bool Send(const char* message, size_t length, wxString& error);

private:
    bool Connect(const CSyslogSettings& settings, wxString& error);
    bool SendOnce(const char* message, size_t length, bool& serverGone);
    bool SendDatagram(const char* message, size_t length, bool& serverGone);
    bool SendFramed(const char* message, size_t length, bool& serverGone);
    bool WriteAll(const char* data, size_t length);
    bool ServerClosed() const;

    int m_fd = -1;
    bool m_ipv6 = false;
    CSyslogSettings m_settings;
    std::string m_frame;  // reused for the TCP length prefix and message
};

}  // namespace KvoCore
