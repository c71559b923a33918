#include "core/hmd/HmdProcfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>

#include "core/Utilities.h"

namespace KvoCore {

namespace {

// Flag of kernel threads in /proc/PID/stat.
const unsigned long kKernelThreadFlag = 0x00200000;

// Scoped descriptor of one /proc/PID: every file read through it belongs to
// that process, never to a later one that took its pid.
class ProcDir {
public:
    explicit ProcDir(long long pid) {
        std::string path = "/proc/" + std::to_string(pid);
        m_fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~ProcDir() {
        if (m_fd >= 0) close(m_fd);
    }
    ProcDir(const ProcDir&) = delete;
    ProcDir& operator=(const ProcDir&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

bool ReadLinkAt(int dirFd, const char* name, std::string& target) {
    char buffer[PATH_MAX + 1];
    ssize_t length = readlinkat(dirFd, name, buffer, sizeof buffer - 1);
    if (length < 0) return false;
    target.assign(buffer, static_cast<size_t>(length));
    return true;
}

// "pid (comm) state ppid ...": comm may hold blanks and brackets, so the
// fields are counted from its last ")".
bool ParseStat(const std::string& stat, HmdProcess& process, unsigned long long& flags) {
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    process.name = stat.substr(open + 1, close - open - 1);
    std::vector<std::string> fields = SplitWords(stat.substr(close + 1));
    long long startTicks, parsedFlags;
    // Field numbers of proc(5) less 3: ppid 4, flags 9, starttime 22.
    if (fields.size() < 20 || !ParseDecimal(fields[1], process.parentPid) || !ParseDecimal(fields[6], parsedFlags) ||
        !ParseDecimal(fields[19], startTicks))
        return false;
    flags = static_cast<unsigned long long>(parsedFlags);
    process.startTicks = static_cast<unsigned long long>(startTicks);
    return true;
}

// The first number after "<label>:" in /proc/PID/status.
void ParseStatusNumber(const std::string& status, const char* label, long long& value) {
    std::string prefix = std::string("\n") + label + ":";
    size_t at = status.find(prefix);
    if (at == std::string::npos) return;
    size_t end = status.find('\n', at + 1);
    std::vector<std::string> words = SplitWords(status.substr(at + prefix.size(), end - at - prefix.size()));
    if (!words.empty()) ParseDecimal(words[0], value);
}

void ReadDetails(int dirFd, unsigned long long flags, HmdProcess& process) {
    std::string arguments;
    if (ReadWholeFile("cmdline", arguments, dirFd)) {
        while (!arguments.empty() && arguments.back() == '\0') arguments.pop_back();
        std::replace(arguments.begin(), arguments.end(), '\0', ' ');
        process.commandLine = arguments;
    }
    process.hasExe = !(flags & kKernelThreadFlag) && ReadLinkAt(dirFd, "exe", process.exe);
}

}  // namespace

std::vector<long long> ListProcessIds() {
    std::vector<long long> pids;
    DIR* proc = opendir("/proc");
    if (!proc) return pids;
    long long pid;
    while (const struct dirent* entry = readdir(proc))
        if (ParseDecimal(entry->d_name, pid)) pids.push_back(pid);
    closedir(proc);
    std::sort(pids.begin(), pids.end());
    return pids;
}

bool ReadHmdProcess(long long pid, bool details, HmdProcess& process) {
    process = HmdProcess();
    process.pid = pid;
    ProcDir dir(pid);
    std::string stat, status;
    unsigned long long flags = 0;
    if (dir.fd() < 0 || !ReadWholeFile("stat", stat, dir.fd()) || !ParseStat(stat, process, flags) ||
        !ReadWholeFile("status", status, dir.fd()))
        return false;
    ParseStatusNumber(status, "Uid", process.uid);
    ParseStatusNumber(status, "Gid", process.gid);
    ParseStatusNumber(status, "Threads", process.threads);
    if (details) ReadDetails(dir.fd(), flags, process);
    // Still there after the reads: what they gave is the process's, not the
    // empty files of one that ended in between.
    return ReadWholeFile("stat", stat, dir.fd()) && !stat.empty();
}

std::vector<unsigned long long> ReadSocketInodes(long long pid) {
    std::vector<unsigned long long> inodes;
    std::string path = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = opendir(path.c_str());
    if (!fds) return inodes;
    std::string target;
    long long inode;
    while (const struct dirent* entry = readdir(fds)) {
        if (entry->d_name[0] == '.' || !ReadLinkAt(dirfd(fds), entry->d_name, target)) continue;
        if (target.compare(0, 8, "socket:[") == 0 && target.back() == ']' &&
            ParseDecimal(target.substr(8, target.size() - 9), inode))
            inodes.push_back(static_cast<unsigned long long>(inode));
    }
    closedir(fds);
    return inodes;
}

bool ReadBootTime(long long& seconds) {
    std::string stat;
    if (!ReadWholeFile("/proc/stat", stat)) return false;
    for (const std::string& line : SplitLines(stat))
        if (line.compare(0, 6, "btime ") == 0) return ParseDecimal(line.substr(6), seconds);
    return false;
}

wxString ProcessStartText(const HmdProcess& process, long long bootTime) {
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (bootTime <= 0 || ticksPerSecond <= 0) return wxString();
    return IsoInstant(static_cast<time_t>(bootTime + static_cast<long long>(process.startTicks / ticksPerSecond)));
}

void AppendProcessOwner(CHostMetaData& object, const HmdProcess& process, const HmdIdNames& names) {
    wxString name;
    if (process.uid >= 0) {
        object.AppendAttribute("userId", toDecimalString(process.uid));
        if (names.UserName(process.uid, name)) object.AppendAttribute("user", name);
    }
    if (process.gid >= 0) {
        object.AppendAttribute("groupId", toDecimalString(process.gid));
        if (names.GroupName(process.gid, name)) object.AppendAttribute("group", name);
    }
}

}  // namespace KvoCore
