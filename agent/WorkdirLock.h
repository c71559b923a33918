// CWorkdirLock: one agent per work directory. Holds an exclusive flock on
// <workdir>/kvo-agent.lock while it lives; the kernel drops the lock when the
// process dies, so it never goes stale and needs no clean-up.
#pragma once

#include <string>

#include <wx/string.h>

namespace KvoAgent {

class CWorkdirLock {
public:
    explicit CWorkdirLock(const wxString& workdir);
    ~CWorkdirLock();
    CWorkdirLock(const CWorkdirLock&) = delete;
    CWorkdirLock& operator=(const CWorkdirLock&) = delete;

    enum Result { Acquired, HeldByAnother, Failed };
    // Does not wait. With Failed, error says why the lock file cannot be used.
    Result Acquire(std::string& error);
    const std::string& Path() const { return m_path; }

    static const char* const s_FileName;  // "kvo-agent.lock"

private:
    std::string m_path;
    int m_fd = -1;
};

}  // namespace KvoAgent
