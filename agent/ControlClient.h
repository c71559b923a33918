// CControlClient: a command carried out by the agent that runs on the work
// directory (`kvo-agent run`), through its control socket: the request goes
// out as one JSON line, and what the agent writes for the command comes back
// to this process's stdout and stderr, with the command's exit status.
// Used once, on the main thread, inside the work directory.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/Dom.h"

namespace KvoAgent {

class CControlClient {
public:
    enum class Connection { Open, NoAgent, Failed };

    CControlClient() = default;
    ~CControlClient();
    CControlClient(const CControlClient&) = delete;
    CControlClient& operator=(const CControlClient&) = delete;

    // NoAgent: no agent serves the socket (none, or a socket file left by a
    // dead one). Failed: error says why.
    Connection Connect(std::string& error);
    // Text that follows the request as the command's input (feed); the end of
    // writing tells the agent that it is complete.
    void SetInput(std::string input) { m_input = std::move(input); m_hasInput = true; }
    // The command's exit status. The agent's stop (SIGINT/SIGTERM here) ends the wait.
    int Carry(KvoCore::CDom& dom, const std::string& command, const std::vector<std::string>& arguments);

private:
    bool SendRequest(const std::string& command, const std::vector<std::string>& arguments);
    // One response line; false once the exit status came (in status).
    bool Take(const std::string& line, int& status);

    bool SendInput();

    int m_fd = -1;
    std::string m_input;
    bool m_hasInput = false;
};

}  // namespace KvoAgent
