#include "agent/ServiceNotifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <wx/string.h>

#include "core/Log.h"
#include "core/Utilities.h"

namespace KvoAgent {

CServiceNotifier::CServiceNotifier() {
    const char* socket = getenv("NOTIFY_SOCKET");
    if (socket != nullptr && (socket[0] == '/' || socket[0] == '@') && strlen(socket) < sizeof(sockaddr_un::sun_path))
        m_socket = socket;
    // The watchdog is meant for this process only when WATCHDOG_PID, if set, is ours.
    const char* usec = getenv("WATCHDOG_USEC");
    const char* pid = getenv("WATCHDOG_PID");
    if (usec != nullptr && (pid == nullptr || atoll(pid) == static_cast<long long>(getpid())))
        m_watchdogMs = atoll(usec) / 1000;
    if (m_watchdogMs < 0) m_watchdogMs = 0;
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
}

void CServiceNotifier::Ready(const std::string& status) { Send("READY=1\nSTATUS=" + status); }

void CServiceNotifier::Stopping() { Send("STOPPING=1"); }

void CServiceNotifier::PingWatchdog() {
    if (m_watchdogMs == 0) return;
    const long long now = static_cast<long long>(KvoCore::SystemTickCount());
    if (m_lastPingMs != 0 && now - m_lastPingMs < m_watchdogMs / 2) return;
    m_lastPingMs = now;
    Send("WATCHDOG=1");
}

void CServiceNotifier::Send(const std::string& message) {
    if (!Active()) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, m_socket.data(), m_socket.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_socket.size());
    if (m_socket[0] == '@') address.sun_path[0] = '\0';  // an abstract socket
    else ++length;                                        // with its terminating NUL
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&address), length) < 0)
        KvoCore::LogWarning(wxString::Format("Telling systemd \"%s\": %s", message.substr(0, message.find('\n')),
                                             strerror(errno)));
    if (fd >= 0) close(fd);
}

}  // namespace KvoAgent
