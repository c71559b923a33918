#include "agent/ProcessIdentity.h"

#include "agent/RealtimePlatform.h"

namespace KvoAgent {

namespace {

// Short enough that a pid reused by another program is read afresh.
const long long kKeepMs = 100;

}  // namespace

void CProcessIdentity::Lookup(pid_t pid, std::string& user, std::string& process) {
    const long long now = CRealtimePlatform::NowMillis();
    if (pid != m_pid || now - m_readAt > kKeepMs || now < m_readAt) {
        m_pid = pid;
        m_readAt = now;
        m_user = pid > 0 ? CRealtimePlatform::ProcessUser(pid) : std::string();
        m_process = pid > 0 ? CRealtimePlatform::ProcessName(pid) : std::string();
    }
    user = m_user;
    process = m_process;
}

}  // namespace KvoAgent
