// A real rsyslogd for tests, run in the foreground as a child of the test
// process: it listens on 127.0.0.1 (UDP and TCP, free ports) and writes every
// message it receives to a file, one line per message:
//   PRI|TIMESTAMP|HOSTNAME|APP-NAME|PROCID|MSGID|MSG
// The daemon is stopped by the destructor, and dies with the test process
// should that end first (parent-death signal), so none outlives the tests.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <cerrno>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class RsyslogDaemon {
public:
    // Where rsyslogd is looked for; Debian installs it in /usr/sbin.
    static std::string FindExecutable() {
        for (const char* candidate : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd", "/usr/local/sbin/rsyslogd"})
            if (access(candidate, X_OK) == 0) return candidate;
        return std::string();
    }

    // directory: an empty private directory for the configuration, the spool
    // and the output. Nothing runs until Start.
    explicit RsyslogDaemon(const std::string& directory) : m_directory(directory) {}
    ~RsyslogDaemon() { Stop(); }
    RsyslogDaemon(const RsyslogDaemon&) = delete;
    RsyslogDaemon& operator=(const RsyslogDaemon&) = delete;

    // Starts the daemon and waits (up to timeoutMs) until both inputs take
    // messages. False with the reason (and the daemon's own output) in error.
    bool Start(std::string& error, int timeoutMs = 60000) {
        const std::string executable = FindExecutable();
        if (executable.empty()) {
            error = "rsyslogd is not installed: the syslog tests need a real rsyslog "
                    "(Debian package rsyslog, installed by scripts/install-deps)";
            return false;
        }
        m_udpPort = FreePort(SOCK_DGRAM);
        m_tcpPort = FreePort(SOCK_STREAM);
        if (!m_udpPort || !m_tcpPort || !WriteConfig()) {
            error = "cannot prepare the rsyslog configuration in " + m_directory;
            return false;
        }
        if (!Spawn(executable)) {
            error = "cannot start " + executable;
            return false;
        }
        if (!WaitUntilReady(timeoutMs)) {
            error = "rsyslogd did not take messages within " + std::to_string(timeoutMs) + " ms; its output:\n" +
                    ReadFile(Path("rsyslogd.out"));
            return false;
        }
        return true;
    }

    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        if (!Reaped(10000)) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

    int UdpPort() const { return m_udpPort; }
    int TcpPort() const { return m_tcpPort; }
    pid_t Pid() const { return m_pid; }

    // Stops the daemon; false when its process is still there afterwards.
    bool StopAndConfirmGone() {
        const pid_t pid = m_pid;
        Stop();
        return pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH);
    }

    // The output lines written so far.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(Path("messages.log")));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Waits until some output line satisfies match; that line goes to found.
    bool WaitForLine(const std::function<bool(const std::string&)>& match, std::string& found,
                     int timeoutMs = 30000) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            for (const std::string& line : Lines())
                if (match(line)) {
                    found = line;
                    return true;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    // Waits for the output line whose message ends the line exactly with message.
    bool WaitForMessage(const std::string& message, std::string& found, int timeoutMs = 30000) const {
        return WaitForLine(
            [&message](const std::string& output) {
                return output.size() >= message.size() &&
                       output.compare(output.size() - message.size(), message.size(), message) == 0;
            },
            found, timeoutMs);
    }

private:
    std::string Path(const std::string& name) const { return m_directory + "/" + name; }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static int FreePort(int type) {
        const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (fd >= 0) close(fd);
        return port;
    }

    bool WriteConfig() const {
        std::ofstream out(Path("rsyslog.conf"));
        // The size limit must be raised before any input is defined, or the
        // inputs keep the default of 8 KiB.
        out << "global(workDirectory=\"" << m_directory << "\" maxMessageSize=\"128k\")\n"
            << "module(load=\"imudp\")\n"
            << "module(load=\"imtcp\")\n"
            << "template(name=\"fields\" type=\"string\" string=\"%pri%|%timereported:::date-rfc3339%|"
               "%hostname%|%app-name%|%procid%|%msgid%|%msg%\\n\")\n"
            << "ruleset(name=\"capture\") {\n"
            << "  action(type=\"omfile\" file=\"" << Path("messages.log") << "\" template=\"fields\")\n"
            << "}\n"
            << "input(type=\"imudp\" address=\"127.0.0.1\" port=\"" << m_udpPort << "\" ruleset=\"capture\")\n"
            << "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"" << m_tcpPort << "\" ruleset=\"capture\")\n";
        return static_cast<bool>(out);
    }

    bool Spawn(const std::string& executable) {
        const std::string config = Path("rsyslog.conf");
        const std::string pidFile = Path("rsyslogd.pid");
        const std::string output = Path("rsyslogd.out");
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                dup2(fd, STDOUT_FILENO);
                dup2(fd, STDERR_FILENO);
            }
            execl(executable.c_str(), executable.c_str(), "-n", "-f", config.c_str(), "-i", pidFile.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        return true;
    }

    bool Reaped(int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    bool Running() { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }

    // Datagrams sent before imudp binds are lost, so probes are repeated until
    // one is written out; TCP is ready once it accepts a connection.
    bool WaitUntilReady(int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(m_udpPort));
        const std::string probe = "<14>1 - - rsyslog-probe - - - ready";
        bool udpReady = false, tcpReady = false;
        while (Running() && !(udpReady && tcpReady) && std::chrono::steady_clock::now() < deadline) {
            if (!udpReady) {
                sendto(udp, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
                udpReady = ReadFile(Path("messages.log")).find("rsyslog-probe") != std::string::npos;
            }
            if (!tcpReady) tcpReady = TcpAccepts();
            if (!(udpReady && tcpReady)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        close(udp);
        return udpReady && tcpReady;
    }

    bool TcpAccepts() const {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(m_tcpPort));
        const bool accepted = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0) close(fd);
        return accepted;
    }

    std::string m_directory;
    int m_udpPort = 0;
    int m_tcpPort = 0;
    pid_t m_pid = -1;
};
