// Pieces shared by the syslog tests of the core and of the plug-in.
#pragma once

#include <unistd.h>

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
