#include "agent/ControlSession.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include <cjson/cJSON.h>

#include "agent/AgentHost.h"
#include "agent/FeedCommand.h"
#include "agent/QueryCommand.h"
#include "agent/ScanCommand.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

// A request is a command line: anything longer is not one.
const size_t kMostRequestBytes = 65536;
const int kRequestTimeoutMs = 5000;
// Input of a command (feed): records of a few hundred bytes, millions at most.
const size_t kMostInputBytes = size_t(1) << 30;

using Json = std::unique_ptr<cJSON, void (*)(cJSON*)>;

}  // namespace

CControlSession::CControlSession(KvoCore::CDom& dom, std::string scriptDir, int fd,
                                 std::function<void()> wakeAgent)
    : m_dom(dom), m_scriptDir(std::move(scriptDir)), m_fd(fd), m_wakeAgent(std::move(wakeAgent)) {}

CControlSession::~CControlSession() {
    if (m_thread.joinable()) m_thread.join();
    close(m_fd);
}

void CControlSession::Start() { m_thread = std::thread(&CControlSession::Run, this); }

void CControlSession::Run() {
    std::string command, error;
    std::vector<std::string> arguments;
    int status = ExitUsage;
    if (!ReadRequest(command, arguments, error)) {
        KvoCore::LogWarning(wxString::FromUTF8("control socket: " + error));
        const std::string text = "kvo-agent: " + error + "\n";
        Send("err", text.data(), text.size());
    } else {
        CCommandStreams io;
        io.out = OpenChannel(m_out);
        io.err = OpenChannel(m_err);
        io.inAgent = true;
        if (io.out != nullptr && io.err != nullptr) status = Carry(command, arguments, io);
        else status = ExitInternal;
        if (io.out != nullptr) fclose(io.out);
        if (io.err != nullptr) fclose(io.err);
    }
    SendExit(status);
    m_done = true;
}

// One line of JSON, read within a few seconds: a client that sends nothing holds no thread for long.
bool CControlSession::ReadRequest(std::string& command, std::vector<std::string>& arguments, std::string& error) {
    while (m_pending.find('\n') == std::string::npos) {
        if (!Receive(kMostRequestBytes, error)) {
            if (error.empty()) error = "the client left before its request was complete";
            return false;
        }
    }
    const std::string line = m_pending.substr(0, m_pending.find('\n'));
    m_pending.erase(0, line.size() + 1);
    Json request(cJSON_Parse(line.c_str()), cJSON_Delete);
    const cJSON* name = cJSON_GetObjectItemCaseSensitive(request.get(), "command");
    const cJSON* list = cJSON_GetObjectItemCaseSensitive(request.get(), "arguments");
    if (!cJSON_IsString(name) || (list != nullptr && !cJSON_IsArray(list))) {
        error = "the request is not {\"command\": NAME, \"arguments\": [...]}";
        return false;
    }
    command = name->valuestring;
    const cJSON* argument = nullptr;
    cJSON_ArrayForEach(argument, list) {
        if (!cJSON_IsString(argument)) {
            error = "the request's arguments must be strings";
            return false;
        }
        arguments.emplace_back(argument->valuestring);
    }
    return true;
}

int CControlSession::Carry(const std::string& command, const std::vector<std::string>& arguments,
                           const CCommandStreams& io) {
    std::string error;
    if (CQueryCommand::Handles(command)) {
        CQueryCommand query(command);
        if (query.Parse(arguments, error) != CQueryCommand::Parsed::Run) {
            fprintf(io.err, "kvo-agent: %s\n", error.empty() ? "--help is answered by the client" : error.c_str());
            return ExitUsage;
        }
        return query.Run(m_dom, m_scriptDir, io);
    }
    if (command == "feed") {
        std::vector<std::string> lines;
        if (!ReadInput(lines, error)) {
            fprintf(io.err, "kvo-agent: feed: %s\n", error.c_str());
            return ExitBadInput;
        }
        return CFeedCommand(m_dom, io).Run(lines);
    }
    bool json = false;
    if (const CScanCommand::ScanKind* kind = CScanCommand::Parse(command, arguments, json, error)) {
        CScanCommand scan(m_dom, *kind, m_scriptDir, json, io);
        scan.SetAbandoned([this] { return ClientGone(); });
        scan.SetWakeAgent(m_wakeAgent);
        return scan.Run();
    }
    fprintf(io.err, "kvo-agent: the running agent does not carry this out: %s\n", error.c_str());
    return ExitUsage;
}

bool CControlSession::Receive(size_t most, std::string& error) {
    struct pollfd p = {m_fd, POLLIN, 0};
    if (poll(&p, 1, kRequestTimeoutMs) <= 0) {
        error = "no request came";
        return false;
    }
    char buffer[65536];
    const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        m_clientDone = true;
        return false;
    }
    m_pending.append(buffer, static_cast<size_t>(n));
    if (m_pending.size() > most) {
        error = "the request is too long";
        return false;
    }
    return true;
}

bool CControlSession::ReadInput(std::vector<std::string>& lines, std::string& error) {
    while (!m_clientDone) {
        if (!Receive(kMostInputBytes, error) && !m_clientDone) return false;
    }
    for (size_t start = 0; start < m_pending.size();) {
        size_t end = m_pending.find('\n', start);
        if (end == std::string::npos) end = m_pending.size();
        lines.push_back(m_pending.substr(start, end - start));
        start = end + 1;
    }
    m_pending.clear();
    return true;
}

// The client has nothing more to say once its request is in: readable now means it hung up.
bool CControlSession::ClientGone() const {
    struct pollfd p = {m_fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) return true;
    char byte;
    return recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool CControlSession::Send(const char* name, const char* text, size_t size) {
    Json line(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddItemToObject(line.get(), name, cJSON_CreateString(std::string(text, size).c_str()));
    std::unique_ptr<char, void (*)(void*)> json(cJSON_PrintUnformatted(line.get()), free);
    if (!json) return false;
    const std::string data = std::string(json.get()) + "\n";
    // A client that has gone must not take the agent with it (SIGPIPE).
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n = send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void CControlSession::SendExit(int status) {
    const std::string data = "{\"exit\":" + std::to_string(status) + "}\n";
    // Nothing more can be done for a client that has gone.
    (void)send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
}

ssize_t CControlSession::WriteChannel(void* cookie, const char* data, size_t size) {
    Channel* channel = static_cast<Channel*>(cookie);
    return channel->session->Send(channel->name, data, size) ? static_cast<ssize_t>(size) : -1;
}

FILE* CControlSession::OpenChannel(Channel& channel) {
    cookie_io_functions_t functions = {nullptr, &CControlSession::WriteChannel, nullptr, nullptr};
    FILE* stream = fopencookie(&channel, "w", functions);
    // A line at a time, so that what the command shows arrives as it shows it.
    if (stream != nullptr) setvbuf(stream, nullptr, _IOLBF, 0);
    return stream;
}

}  // namespace KvoAgent
