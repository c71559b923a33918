// CServiceNotifier: tells systemd how the agent's service is doing, over the
// datagram socket it names in NOTIFY_SOCKET (READY, STOPPING, the watchdog's
// ping every half of WATCHDOG_USEC). Does nothing outside such a service.
#pragma once

#include <string>

namespace KvoAgent {

class CServiceNotifier {
public:
    // Reads, then clears, the service's environment, so that no program the
    // agent starts talks to systemd in its name.
    CServiceNotifier();

    bool Active() const { return !m_socket.empty(); }
    void Ready(const std::string& status);
    void Stopping();
    // 0 without a watchdog.
    long long WatchdogIntervalMs() const { return m_watchdogMs; }
    // Pings when half the watchdog's interval has passed since the last ping.
    void PingWatchdog();

private:
    void Send(const std::string& message);

    std::string m_socket;
    long long m_watchdogMs = 0;
    long long m_lastPingMs = 0;
};

}  // namespace KvoAgent
