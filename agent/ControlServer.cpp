#include "agent/ControlServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Log.h"

namespace KvoAgent {

namespace {

// How soon the server notices that it is to stop.
const int kAcceptPollMs = 200;

}  // namespace

const char* const CControlServer::s_SocketName = "kvo-agent.sock";

CControlServer::CControlServer(KvoCore::CDom& dom, std::string scriptDir, std::function<void()> wakeAgent)
    : CRunnable("control-socket", &dom), m_dom(dom), m_scriptDir(std::move(scriptDir)), m_wakeAgent(std::move(wakeAgent)) {}

CControlServer::~CControlServer() {
    Reap(true);
    if (m_fd < 0) return;
    close(m_fd);
    unlink(s_SocketName);
}

bool CControlServer::Listen(std::string& error) {
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = std::string("cannot create the control socket: ") + strerror(errno);
        return false;
    }
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, s_SocketName, sizeof address.sun_path - 1);
    unlink(s_SocketName);
    // The work directory is the agent's alone (0700); the socket says so as well.
    if (bind(m_fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
        chmod(s_SocketName, 0600) != 0 || listen(m_fd, 16) != 0) {
        error = std::string("cannot serve the control socket ") + s_SocketName + ": " + strerror(errno);
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

void CControlServer::OnRun() {
    while (!TestDestroy(0, nullptr)) {
        struct pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, kAcceptPollMs) > 0) Accept();
        Reap(false);
    }
}

void CControlServer::Accept() {
    const int fd = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
            KvoCore::LogWarning(wxString::Format("control socket: accept failed: %s", strerror(errno)));
        return;
    }
    m_sessions.emplace_back(new CControlSession(m_dom, m_scriptDir, fd, m_wakeAgent));
    m_sessions.back()->Start();
}

void CControlServer::Reap(bool all) {
    for (auto session = m_sessions.begin(); session != m_sessions.end();) {
        if (all || (*session)->Done())
            session = m_sessions.erase(session);
        else
            ++session;
    }
}

}  // namespace KvoAgent
