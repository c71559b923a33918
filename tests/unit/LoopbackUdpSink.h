// A UDP socket on 127.0.0.1 (a free port) that collects datagrams, for tests of
// what a sender puts on the wire.
#pragma once

#include <poll.h>

#include <string>
#include <vector>

#include "tests/unit/SyslogTestSupport.h"

class LoopbackUdpSink {
public:
    // port 0 picks a free port.
    explicit LoopbackUdpSink(int port = 0) : m_fd(KvoTest::BindLoopback(SOCK_DGRAM, port, 0, m_port)) {}
    ~LoopbackUdpSink() {
        if (m_fd >= 0) close(m_fd);
    }
    LoopbackUdpSink(const LoopbackUdpSink&) = delete;
    LoopbackUdpSink& operator=(const LoopbackUdpSink&) = delete;

    // 0 when the socket could not be made.
    int Port() const { return m_port; }

    // The next datagram; false when none arrives within timeoutMs.
    bool Receive(std::string& datagram, int timeoutMs = 30000) {
        if (!Pending(timeoutMs)) return false;
        std::vector<char> bytes(70000);
        const ssize_t got = recv(m_fd, bytes.data(), bytes.size(), 0);
        datagram.assign(bytes.data(), static_cast<size_t>(std::max<ssize_t>(got, 0)));
        return got >= 0;
    }

    // True when a datagram is waiting (now, or within timeoutMs).
    bool Pending(int timeoutMs = 0) const {
        struct pollfd p = {m_fd, POLLIN, 0};
        return poll(&p, 1, timeoutMs) == 1;
    }

private:
    int m_port = 0;
    int m_fd = -1;
};
