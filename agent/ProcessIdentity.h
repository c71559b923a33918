// CProcessIdentity: the user and process behind a pid, read at once when an
// event arrives (before the process can exit). The last answer is kept for a
// moment, since a burst of changes usually comes from one process.
#pragma once

#include <sys/types.h>

#include <string>

namespace KvoAgent {

class CProcessIdentity {
public:
    // Fills user and process for pid; both empty when it has gone.
    void Lookup(pid_t pid, std::string& user, std::string& process);

private:
    pid_t m_pid = 0;
    long long m_readAt = 0;
    std::string m_user;
    std::string m_process;
};

}  // namespace KvoAgent
