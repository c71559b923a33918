// CLuaThread: an agent thread that runs one Lua script file in a Lua state of
// its own, with the agent's Lua surface opened. The script sees its arguments
// as "..." and may wait with dom:ShouldExit(ms), which ends early on Awaken().
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/Dom.h"
#include "core/Runnable.h"

namespace KvoCore {

class CLuaThread : public CRunnable {
public:
    CLuaThread(CDom& dom, const std::string& scriptPath, std::vector<std::string> arguments);
    ~CLuaThread() override;

    void OnRun() override;
    // After join(): whether the script ended without error, and the error.
    bool Succeeded(std::string& error) const;

private:
    CDom m_dom;
    std::string m_script;
    std::vector<std::string> m_arguments;
    mutable std::mutex m_lock;
    bool m_ok = false;
    std::string m_error;
};

}  // namespace KvoCore
