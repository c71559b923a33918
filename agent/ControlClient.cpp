#include "agent/ControlClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <cjson/cJSON.h>

#include "agent/AgentHost.h"
#include "agent/ControlServer.h"

namespace KvoAgent {

namespace {

const int kPollMs = 200;

using Json = std::unique_ptr<cJSON, void (*)(cJSON*)>;

}  // namespace

CControlClient::~CControlClient() {
    if (m_fd >= 0) close(m_fd);
}

CControlClient::Connection CControlClient::Connect(std::string& error) {
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = std::string("cannot create a socket: ") + strerror(errno);
        return Connection::Failed;
    }
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, CControlServer::s_SocketName, sizeof address.sun_path - 1);
    if (connect(m_fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) return Connection::Open;
    if (errno == ENOENT || errno == ECONNREFUSED) return Connection::NoAgent;
    error = std::string("cannot reach the running agent through ") + CControlServer::s_SocketName + ": " +
            strerror(errno);
    return Connection::Failed;
}

bool CControlClient::SendRequest(const std::string& command, const std::vector<std::string>& arguments) {
    Json request(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddStringToObject(request.get(), "command", command.c_str());
    cJSON* list = cJSON_AddArrayToObject(request.get(), "arguments");
    for (const std::string& argument : arguments) cJSON_AddItemToArray(list, cJSON_CreateString(argument.c_str()));
    std::unique_ptr<char, void (*)(void*)> text(cJSON_PrintUnformatted(request.get()), free);
    if (!text) return false;
    const std::string line = std::string(text.get()) + "\n";
    return send(m_fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

bool CControlClient::SendInput() {
    if (!m_hasInput) return true;
    for (size_t sent = 0; sent < m_input.size();) {
        const ssize_t n = send(m_fd, m_input.data() + sent, m_input.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return shutdown(m_fd, SHUT_WR) == 0;
}

int CControlClient::Carry(KvoCore::CDom& dom, const std::string& command, const std::vector<std::string>& arguments) {
    if (!SendRequest(command, arguments) || !SendInput()) {
        fprintf(stderr, "kvo-agent: cannot send the request to the running agent: %s\n", strerror(errno));
        return ExitInternal;
    }
    std::string pending;
    char buffer[65536];
    int status = ExitInternal;
    for (;;) {
        if (dom.ShouldExit(0)) {
            fprintf(stderr, "kvo-agent: interrupted; the running agent goes on with what it was asked\n");
            return ExitTryAgain;
        }
        struct pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0) continue;
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const bool more = Take(pending.substr(0, end), status);
            pending.erase(0, end + 1);
            if (!more) return status;
        }
    }
    fprintf(stderr, "kvo-agent: the running agent ended the connection before the command was done "
                    "(see its kvo-agent.log)\n");
    return ExitInternal;
}

bool CControlClient::Take(const std::string& line, int& status) {
    Json response(cJSON_Parse(line.c_str()), cJSON_Delete);
    const cJSON* exit = cJSON_GetObjectItemCaseSensitive(response.get(), "exit");
    if (cJSON_IsNumber(exit)) {
        status = exit->valueint;
        return false;
    }
    for (const auto& channel : {std::make_pair("out", stdout), std::make_pair("err", stderr)}) {
        const cJSON* text = cJSON_GetObjectItemCaseSensitive(response.get(), channel.first);
        if (cJSON_IsString(text)) {
            fputs(text->valuestring, channel.second);
            fflush(channel.second);
        }
    }
    return true;
}

}  // namespace KvoAgent
