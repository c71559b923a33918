// CControlSession: one connection to the control socket of `kvo-agent run`.
// The client sends one JSON request line, {"command": NAME, "arguments":
// [...]}; the command is carried out inside the running agent, so that it
// sees the agent's scan state, and what it writes comes back as a stream of
// JSON lines, {"out": TEXT} and {"err": TEXT}, ended by {"exit": STATUS}.
// A command that takes input (feed) reads it as the lines that follow the
// request, up to the client's end of writing.
// Runs on a thread of its own; the server reaps it once Done().
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "agent/CommandStreams.h"
#include "core/Dom.h"

namespace KvoAgent {

class CControlSession {
public:
    // Takes over the connected socket fd; wakeAgent wakes the agent's control thread.
    CControlSession(KvoCore::CDom& dom, std::string scriptDir, int fd, std::function<void()> wakeAgent);
    ~CControlSession();
    CControlSession(const CControlSession&) = delete;
    CControlSession& operator=(const CControlSession&) = delete;

    void Start();
    bool Done() const { return m_done.load(); }

private:
    struct Channel {
        CControlSession* session;
        const char* name;
    };

    void Run();
    bool ReadRequest(std::string& command, std::vector<std::string>& arguments, std::string& error);
    // The lines after the request, until the client stops writing.
    bool ReadInput(std::vector<std::string>& lines, std::string& error);
    // More bytes from the client into m_pending; false at its end or after the time-out.
    bool Receive(size_t most, std::string& error);
    int Carry(const std::string& command, const std::vector<std::string>& arguments, const CCommandStreams& io);
    bool ClientGone() const;
    bool Send(const char* name, const char* text, size_t size);
    void SendExit(int status);
    static ssize_t WriteChannel(void* cookie, const char* data, size_t size);
    static FILE* OpenChannel(Channel& channel);

    KvoCore::CDom m_dom;
    const std::string m_scriptDir;
    const int m_fd;
    const std::function<void()> m_wakeAgent;
    Channel m_out{this, "out"};
    Channel m_err{this, "err"};
    std::string m_pending;  // received and not yet taken
    bool m_clientDone = false;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
};

}  // namespace KvoAgent
