// A UDP socket on 127.0.0.1 (a free port) that collects datagrams, for tests of
// what a sender puts on the wire.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

class LoopbackUdpSink {
public:
    // port 0 picks a free port.
    explicit LoopbackUdpSink(int port = 0) {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t length = sizeof address;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackUdpSink() {
        if (m_fd >= 0) close(m_fd);
    }
    LoopbackUdpSink(const LoopbackUdpSink&) = delete;
    LoopbackUdpSink& operator=(const LoopbackUdpSink&) = delete;

    // 0 when the socket could not be made.
    int Port() const { return m_port; }

    // The next datagram; false when none arrives within timeoutMs.
    bool Receive(std::string& datagram, int timeoutMs = 30000) {
        struct pollfd p = {m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return false;
        std::vector<char> bytes(70000);
        const ssize_t got = recv(m_fd, bytes.data(), bytes.size(), 0);
        if (got < 0) return false;
        datagram.assign(bytes.data(), static_cast<size_t>(got));
        return true;
    }

    // True when a datagram is waiting right now.
    bool Pending() const {
        struct pollfd p = {m_fd, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};
