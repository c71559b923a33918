#include "agent/WorkdirLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace KvoAgent {

const char* const CWorkdirLock::s_FileName = "kvo-agent.lock";

CWorkdirLock::CWorkdirLock(const wxString& workdir)
    : m_path(std::string(workdir.utf8_str()) + "/" + s_FileName) {}

CWorkdirLock::~CWorkdirLock() {
    if (m_fd >= 0) ::close(m_fd);
}

CWorkdirLock::Result CWorkdirLock::Acquire(std::string& error) {
    if (m_fd >= 0) return Acquired;
    // Close-on-exec: a program the agent starts must not keep the agent's lock.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + m_path + ": " + strerror(errno);
        return Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        ::close(fd);
        if (reason == EWOULDBLOCK) return HeldByAnother;
        error = "cannot lock " + m_path + ": " + strerror(reason);
        return Failed;
    }
    m_fd = fd;
    return Acquired;
}

}  // namespace KvoAgent
