#include "core/SyslogTransport.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>

#include "core/Snprintfcat.h"
#include "core/Utilities.h"

namespace KvoCore {

namespace {

// Waits until a non-blocking connect finishes or timeoutMs pass; errno tells why not.
bool AwaitConnect(int fd, int timeoutMs) {
    const unsigned long start = SystemTickCount();
    for (;;) {
        const long left = timeoutMs - static_cast<long>(SystemTickCount() - start);
        if (left <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        struct pollfd p = {fd, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) continue;
        int failure = 0;
        socklen_t length = sizeof failure;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) return false;
        errno = failure;
        return failure == 0;
    }
}

bool MakeBlocking(int fd, int sendTimeoutMs) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
    if (sendTimeoutMs <= 0) return true;
    struct timeval limit = {sendTimeoutMs / 1000, (sendTimeoutMs % 1000) * 1000};
    return setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

// A connected socket for one resolved address, or -1 with errno set.
int ConnectAddress(const struct addrinfo& address, bool stream) {
    const int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
    if (fd < 0) return -1;
    bool connected = connect(fd, address.ai_addr, address.ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS)
        connected = AwaitConnect(fd, CSyslogTransport::s_ConnectTimeoutMs);
    if (connected && MakeBlocking(fd, stream ? CSyslogTransport::s_SendTimeoutMs : 0)) return fd;
    const int failure = errno;
    close(fd);
    errno = failure;
    return -1;
}

}  // namespace

CSyslogTransport::~CSyslogTransport() { Close(); }

bool CSyslogTransport::Open(const CSyslogSettings& settings, wxString& error) {
    if (IsOpen() && m_settings.SameDestination(settings)) return true;
    Close();
    m_settings = settings;
    return Connect(settings, error);
}

void CSyslogTransport::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

bool CSyslogTransport::Connect(const CSyslogSettings& settings, wxString& error) {
    if (!settings.HasDestination()) {
        error = "no syslog server is configured";
        errno = EDESTADDRREQ;
        return false;
    }
    const bool stream = settings.GetProtocol() == CSyslogSettings::Protocol::Tcp;
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = stream ? SOCK_STREAM : SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    struct addrinfo* addresses = nullptr;
    const int resolved = getaddrinfo(settings.GetServer().utf8_str(), std::to_string(settings.GetPort()).c_str(),
                                     &hints, &addresses);
    if (resolved != 0) {
        const int failure = resolved == EAI_SYSTEM ? errno : EHOSTUNREACH;
        error = wxString::Format("cannot resolve the syslog server %s: %s", settings.DescribeDestination(),
                                 gai_strerror(resolved));
        errno = failure;
        return false;
    }
    int failure = EHOSTUNREACH;
    for (const struct addrinfo* a = addresses; a && m_fd < 0; a = a->ai_next) {
        m_fd = ConnectAddress(*a, stream);
        if (m_fd < 0) failure = errno;
        else m_ipv6 = a->ai_family == AF_INET6;
    }
    freeaddrinfo(addresses);
    if (m_fd >= 0) return true;
    error = wxString::Format("cannot connect to the syslog server %s: %s", settings.DescribeDestination(),
                             strerror(failure));
    errno = failure;
    return false;
}

bool CSyslogTransport::Send(const char* message, size_t length, wxString& error) {
    const bool stream = m_settings.GetProtocol() == CSyslogSettings::Protocol::Tcp;
    if (IsOpen() && stream && ServerClosed()) Close();
    if (!IsOpen() && !Connect(m_settings, error)) return false;
    bool serverGone = false;
    if (SendOnce(message, length, serverGone)) return true;
    int failure = errno;
    if (serverGone) {
        Close();
        if (!Connect(m_settings, error)) return false;
        if (SendOnce(message, length, serverGone)) return true;
        failure = errno;
    }
    // Part of a frame may have left: the stream cannot carry another one.
    if (stream) Close();
    error = wxString::Format("cannot send to the syslog server %s: %s", m_settings.DescribeDestination(),
                             strerror(failure));
    errno = failure;
    return false;
}

bool CSyslogTransport::SendOnce(const char* message, size_t length, bool& serverGone) {
    if (m_settings.GetProtocol() == CSyslogSettings::Protocol::Tcp)
        return SendFramed(message, length, serverGone);
    return SendDatagram(message, length, serverGone);
}

bool CSyslogTransport::SendDatagram(const char* message, size_t length, bool& serverGone) {
    size_t cut = std::min(length, m_ipv6 ? s_MaxUdpPayloadIPv6 : s_MaxUdpPayloadIPv4);
    while (cut > 0 && cut < length && IsUtf8ContinuationByte(message[cut])) --cut;
    ssize_t sent;
    do {
        sent = send(m_fd, message, cut, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    serverGone = sent < 0 && errno == ECONNREFUSED;
    return sent >= 0;
}

bool CSyslogTransport::SendFramed(const char* message, size_t length, bool& serverGone) {
    m_frame = std::to_string(length);
    m_frame += ' ';
    m_frame.append(message, length);
    if (WriteAll(m_frame.data(), m_frame.size())) return true;
    serverGone = errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN;
    return false;
}

bool CSyslogTransport::WriteAll(const char* data, size_t length) {
    while (length > 0) {
        const ssize_t sent = send(m_fd, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) errno = ETIMEDOUT;
        if (sent < 0) return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool CSyslogTransport::ServerClosed() const {
    struct pollfd p = {m_fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLERR | POLLHUP | POLLRDHUP)) return true;
    // Readable without a hang-up: the server spoke, which syslog servers do not;
    // the connection is not trusted with further messages.
    char scratch[1];
    const ssize_t peeked = recv(m_fd, scratch, sizeof scratch, MSG_PEEK | MSG_DONTWAIT);
    return peeked >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace KvoCore
