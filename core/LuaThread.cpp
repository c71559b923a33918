#include "core/LuaThread.h"

#include "core/AgentLua.h"
#include "core/Log.h"

namespace KvoCore {

CLuaThread::CLuaThread(CDom& dom, const std::string& scriptPath, std::vector<std::string> arguments)
    : CRunnable(wxString::FromUTF8(scriptPath.c_str()), &dom),
      m_dom(dom),
      m_script(scriptPath),
      m_arguments(std::move(arguments)) {}

CLuaThread::~CLuaThread() {
    // The script's state must not outlive the thread that runs it.
    if (isRunning()) {
        requestExit();
        join();
    }
}

void CLuaThread::OnRun() {
    std::string error;
    bool ok = InitLua();
    if (!ok) {
        error = "cannot create a Lua state";
    } else {
        OpenAgentLua(L(), m_dom);
        std::vector<const char*> argv;
        for (const auto& a : m_arguments) argv.push_back(a.c_str());
        ok = RunLuaFile(L(), m_script.c_str(), static_cast<int>(argv.size()), argv.data(), error);
    }
    if (!ok) LogError(wxString::Format("agent thread %s: %s", m_script, error));
    std::lock_guard<std::mutex> guard(m_lock);
    m_ok = ok;
    m_error = error;
}

bool CLuaThread::Succeeded(std::string& error) const {
    std::lock_guard<std::mutex> guard(m_lock);
    error = m_error;
    return m_ok;
}

}  // namespace KvoCore
