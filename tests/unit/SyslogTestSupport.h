// Pieces shared by the syslog tests of the core and of the plug-in.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace KvoTest {

// "café" and "日本": UTF-8 that must pass through untouched.
const char* const kCafe = "caf\xc3\xa9";
const char* const kJapan = "\xe6\x97\xa5\xe6\x9c\xac";

inline std::string HostName() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// A socket of type bound to 127.0.0.1:port (0: a free one, then in boundPort),
// listening with backlog when it is a stream; -1 when that fails.
inline int BindLoopback(int type, int port, int backlog, int& boundPort) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    int on = 1;
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && listen(fd, backlog) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    boundPort = ntohs(address.sin_port);
    return fd;
}

// Waits until the socket this host has open on localPort is no longer
// established: the peer's FIN or reset has reached it.
inline bool WaitUntilPeerClosed(int localPort, int timeoutMs = 30000) {
    char portText[8];
    snprintf(portText, sizeof portText, ":%04X", localPort);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        std::ifstream table("/proc/net/tcp");
        bool established = false;
        for (std::string line; std::getline(table, line);) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local.size() > 5 && local.compare(local.size() - 5, 5, portText) == 0 && state == "01")
                established = true;
        }
        if (!established) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace KvoTest
