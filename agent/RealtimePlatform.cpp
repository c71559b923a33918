#include "agent/RealtimePlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/fanotify.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "agent/WatchList.h"

namespace KvoAgent {

namespace {

// As the kernel writes it in fanotify's events.
unsigned long long FsidOf(const struct statfs& info) {
    uint32_t words[2];
    static_assert(sizeof words == sizeof info.f_fsid, "fsid is two words");
    memcpy(words, &info.f_fsid, sizeof words);
    return (static_cast<unsigned long long>(words[0]) << 32) | words[1];
}

}  // namespace

int CRealtimePlatform::FanotifyInit(std::string& error) {
    const unsigned int flags = FAN_CLASS_NOTIF | FAN_CLOEXEC | FAN_NONBLOCK;
    const unsigned int eventFlags = O_RDONLY | O_LARGEFILE | O_CLOEXEC;
    int fd = fanotify_init(flags | FAN_REPORT_DFID_NAME_TARGET, eventFlags);
    // Kernels before 5.17 give no handle of the entry itself.
    if (fd < 0 && errno == EINVAL) fd = fanotify_init(flags | FAN_REPORT_DFID_NAME, eventFlags);
    if (fd < 0) error = strerror(errno);
    return fd;
}

bool CRealtimePlatform::FanotifyMarkFilesystem(int fd, const std::string& path, unsigned long long mask,
                                               std::string& error) {
    if (fanotify_mark(fd, FAN_MARK_ADD | FAN_MARK_FILESYSTEM, mask, AT_FDCWD, path.c_str()) == 0) return true;
    error = strerror(errno);
    return false;
}

void CRealtimePlatform::FanotifyUnmarkFilesystem(int fd, const std::string& path, unsigned long long mask) {
    fanotify_mark(fd, FAN_MARK_REMOVE | FAN_MARK_FILESYSTEM, mask, AT_FDCWD, path.c_str());
}

int CRealtimePlatform::InotifyInit(std::string& error) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) error = strerror(errno);
    return fd;
}

int CRealtimePlatform::InotifyAddWatch(int fd, const std::string& dir, unsigned int mask) {
    return inotify_add_watch(fd, dir.c_str(), mask);
}

void CRealtimePlatform::InotifyRemoveWatch(int fd, int wd) { inotify_rm_watch(fd, wd); }

int CRealtimePlatform::WakeFdCreate() { return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

void CRealtimePlatform::Wake(int wakeFd) {
    const uint64_t one = 1;
    if (write(wakeFd, &one, sizeof one) < 0) {
        // A full counter already wakes the reader.
    }
}

void CRealtimePlatform::DrainWake(int wakeFd) {
    uint64_t count = 0;
    if (read(wakeFd, &count, sizeof count) < 0) {
        // Nothing pending.
    }
}

bool CRealtimePlatform::WaitReadable(int fd, int wakeFd, int mountsFd, int ms, bool& mountsChanged) {
    // The mount table is always readable; the kernel flags a change with POLLPRI.
    struct pollfd fds[3] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}, {mountsFd, POLLPRI, 0}};
    mountsChanged = false;
    if (poll(fds, mountsFd >= 0 ? 3 : 2, ms) <= 0) return false;
    mountsChanged = mountsFd >= 0 && (fds[2].revents & (POLLPRI | POLLERR)) != 0;
    return (fds[0].revents & POLLIN) != 0;
}

int CRealtimePlatform::OpenMountTable() { return open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC); }

ssize_t CRealtimePlatform::Read(int fd, void* buffer, size_t size) {
    const ssize_t n = read(fd, buffer, size);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return n;
}

void CRealtimePlatform::Close(int fd) {
    if (fd >= 0) close(fd);
}

int CRealtimePlatform::OpenDirectory(const std::string& path) {
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int CRealtimePlatform::OpenDirectoryOn(const std::string& path, unsigned long long fsid) {
    const int fd = OpenDirectory(path);
    struct statfs info {};
    if (fd >= 0 && (fstatfs(fd, &info) != 0 || FsidOf(info) != fsid)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool CRealtimePlatform::FilesystemId(const std::string& path, unsigned long long& fsid) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0) return false;
    fsid = FsidOf(info);
    return true;
}

CRealtimePlatform::HandlePath CRealtimePlatform::PathOfHandle(int mountFd, file_handle* handle, std::string& path) {
    const int fd = open_by_handle_at(mountFd, handle, O_PATH | O_CLOEXEC);
    if (fd < 0) return HandlePath::Gone;
    char link[64];
    char target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    struct stat opened {}, named {};
    const bool statted = n > 0 && fstat(fd, &opened) == 0;
    close(fd);
    if (!statted) return HandlePath::Gone;
    path.assign(target, static_cast<size_t>(n));
    // A directory removed since the event has no path any more.
    static const std::string kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        return HandlePath::Gone;
    // Decoded through a mount that does not reach it (a bind mount of another
    // subtree), the kernel names some other place: the path must lead back.
    if (path[0] != '/') return HandlePath::Outside;
    if (stat(path.c_str(), &named) != 0) return errno == ENOENT ? HandlePath::Gone : HandlePath::Outside;
    return named.st_dev == opened.st_dev && named.st_ino == opened.st_ino ? HandlePath::Found : HandlePath::Outside;
}

bool CRealtimePlatform::Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

std::string CRealtimePlatform::NearestExisting(const std::string& dir) {
    std::string at = dir;
    while (at.size() > 1 && !Exists(at)) at = CWatchList::Parent(at);
    return at;
}

namespace {

// Mount points in /proc/self/mountinfo write space, tab, newline and
// backslash as three octal digits after a backslash.
std::string Unescaped(const std::string& field) {
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

template <typename Visit>
void ListDirectory(const std::string& dir, Visit visit) {
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) return;
    const std::string prefix = dir.back() == '/' ? dir : dir + "/";
    while (struct dirent* entry = readdir(handle)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        std::string path = prefix + entry->d_name;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isDir = lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        }
        visit(std::move(path), isDir);
    }
    closedir(handle);
}

}  // namespace

std::vector<CRealtimePlatform::Mount> CRealtimePlatform::LocalMounts() {
    // Kernel views and the like hold no files of the host's own; an NFS
    // share changes on its server (and scans leave it out too).
    static const std::set<std::string> kSkipped = {
        "autofs",  "binfmt_misc", "bpf",     "cgroup",    "cgroup2",    "configfs", "debugfs",
        "devpts",  "efivarfs",    "fusectl", "hugetlbfs", "mqueue",     "nfs",      "nfs4",
        "nfsd",    "nsfs",        "proc",    "pstore",    "rpc_pipefs", "securityfs", "selinuxfs",
        "sysfs",   "tracefs"};
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream head(line.substr(0, dash)), tail(line.substr(dash + 3));
        std::string id, parent, device, root, point, type;
        head >> id >> parent >> device >> root >> point;
        tail >> type;
        if (!point.empty() && kSkipped.count(type) == 0) mounts.push_back({atoi(id.c_str()), Unescaped(point)});
    }
    return mounts;
}

std::vector<std::string> CRealtimePlatform::Subdirectories(const std::string& dir) {
    std::vector<std::string> dirs;
    ListDirectory(dir, [&dirs](std::string path, bool isDir) {
        if (isDir) dirs.push_back(std::move(path));
    });
    return dirs;
}

std::vector<std::string> CRealtimePlatform::Entries(const std::string& dir) {
    std::vector<std::string> entries;
    ListDirectory(dir, [&entries](std::string path, bool isDir) { entries.push_back(isDir ? path + "/" : path); });
    return entries;
}

std::string CRealtimePlatform::ProcessUser(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 4, "Uid:") != 0) continue;
        // Real, effective, saved, filesystem: the effective one made the change.
        unsigned long real = 0, effective = 0;
        if (sscanf(line.c_str() + 4, "%lu %lu", &real, &effective) != 2) return std::string();
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(static_cast<uid_t>(effective), &entry, buffer, sizeof buffer, &found) == 0 && found)
            return found->pw_name;
        return std::to_string(effective);
    }
    return std::string();
}

std::string CRealtimePlatform::ProcessName(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    char target[PATH_MAX];
    const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) return std::string(target, static_cast<size_t>(n));
    std::ifstream comm(dir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

long long CRealtimePlatform::NowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace KvoAgent
