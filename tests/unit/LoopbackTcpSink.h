// A TCP listener on 127.0.0.1 (a free port) that reads octet-counted syslog
// frames ("LEN SP MSG") from the connections it accepts, one connection at a
// time, and can close them the way a server that goes away does.
#pragma once

#include <poll.h>

#include <chrono>
#include <string>

#include "tests/unit/SyslogTestSupport.h"

class LoopbackTcpSink {
public:
    // port 0 picks a free port; a given port is taken again (SO_REUSEADDR).
    explicit LoopbackTcpSink(int port = 0, int backlog = 16)
        : m_listener(KvoTest::BindLoopback(SOCK_STREAM, port, backlog, m_port)) {}
    ~LoopbackTcpSink() {
        DropConnection(false);
        if (m_listener >= 0) close(m_listener);
    }
    LoopbackTcpSink(const LoopbackTcpSink&) = delete;
    LoopbackTcpSink& operator=(const LoopbackTcpSink&) = delete;

    int Port() const { return m_port; }
    int Accepted() const { return m_accepted; }
    // The sender's port of the current connection (0 when none).
    int PeerPort() const { return m_peerPort; }

    // Reads the next frame's message, accepting a connection when none is
    // open. False when no whole frame arrives within timeoutMs, or the frame is
    // malformed (then error says how).
    bool NextMessage(std::string& message, std::string& error, int timeoutMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string length;
        char c = 0;
        while (ReadByte(c, deadline) && c >= '0' && c <= '9' && length.size() < 10) length += c;
        message.clear();
        const size_t wanted = c == ' ' && !length.empty() ? std::stoul(length) : 0;
        while (message.size() < wanted && ReadByte(c, deadline)) message += c;
        if (wanted > 0 && message.size() == wanted) return true;
        error = "no whole frame (length \"" + length + "\", then " + std::to_string(message.size()) + " bytes)";
        return false;
    }

    // Closes the current connection: with an orderly FIN, or (abort) a reset.
    void DropConnection(bool abort) {
        if (m_connection < 0) return;
        if (abort) {
            struct linger hard = {1, 0};
            setsockopt(m_connection, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        close(m_connection);
        m_connection = -1;
        m_buffered.clear();
        m_next = 0;
    }

    // Stops listening (connections are then refused); open ones are dropped.
    void StopListening() {
        DropConnection(false);
        if (m_listener >= 0) close(m_listener);
        m_listener = -1;
    }

private:
    using Deadline = std::chrono::steady_clock::time_point;

    static int MillisLeft(Deadline deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    }

    bool AcceptOne(Deadline deadline) {
        struct pollfd p = {m_listener, POLLIN, 0};
        if (m_listener < 0 || poll(&p, 1, MillisLeft(deadline)) != 1) return false;
        struct sockaddr_in peer = {};
        socklen_t length = sizeof peer;
        m_connection = accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (m_connection < 0) return false;
        m_peerPort = ntohs(peer.sin_port);
        ++m_accepted;
        return true;
    }

    bool ReadByte(char& c, Deadline deadline) {
        while (m_next >= m_buffered.size()) {
            if (m_connection < 0 && !AcceptOne(deadline)) return false;
            struct pollfd p = {m_connection, POLLIN, 0};
            if (poll(&p, 1, MillisLeft(deadline)) != 1) return false;
            char chunk[65536];
            const ssize_t got = recv(m_connection, chunk, sizeof chunk, 0);
            if (got <= 0) {
                DropConnection(false);  // the sender closed: a later frame comes on a new connection
                continue;
            }
            m_buffered.assign(chunk, static_cast<size_t>(got));
            m_next = 0;
        }
        c = m_buffered[m_next++];
        return true;
    }

    int m_port = 0;
    int m_listener = -1;
    int m_connection = -1;
    int m_peerPort = 0;
    int m_accepted = 0;
    std::string m_buffered;
    size_t m_next = 0;
};
