// Shared by the file scanner's own content reads and the reads ahead of it.
#include "plugins/im/FileReadContext.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace KvoPluginIm {
namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// cachestat (Linux 6.5) answers with one call; the C library has no wrapper
// and older kernel headers no number for it (451 on every architecture).
struct CacheStatRange {
    uint64_t offset;
    uint64_t length;
};
struct CacheStat {
    uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
};
const long kCachestatCall = 451;

}  // namespace

bool SameFileObject(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool SameFileVersion(const struct stat& a, const struct stat& b) {
    return SameFileObject(a, b) && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) &&
           SameTime(a.st_ctim, b.st_ctim);
}

bool AnyPageCached(int fd, off_t size) {
    if (size <= 0) return true;
    CacheStatRange whole = {0, 0};  // length 0: to the end of the file
    CacheStat stat = {};
    if (syscall(kCachestatCall, fd, &whole, &stat, 0) == 0) return stat.cached > 0;
    if (errno != ENOSYS) return true;
    void* map = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return true;
    const long page = sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident(static_cast<size_t>((size + page - 1) / page));
    const bool known = mincore(map, static_cast<size_t>(size), resident.data()) == 0;
    munmap(map, static_cast<size_t>(size));
    return !known || std::any_of(resident.begin(), resident.end(), [](unsigned char p) { return (p & 1) != 0; });
}

int OpenForReading(const char* path, int flags) {
    int fd = open(path, flags | O_RDONLY | O_NOATIME | O_CLOEXEC, 0);
    // O_NOATIME is refused for a file the agent neither owns nor may override
    // the owner of; reading it then costs an access-time update.
    if (fd < 0 && errno == EPERM) fd = open(path, flags | O_RDONLY | O_CLOEXEC, 0);
    return fd;
}

bool SetCallingThreadIoIdle() {
    // No libc wrapper; IOPRIO_WHO_PROCESS with id 0 is the calling thread alone.
    constexpr int kWhoProcess = 1, kClassIdle = 3, kClassShift = 13;
    return syscall(SYS_ioprio_set, kWhoProcess, 0, kClassIdle << kClassShift) == 0;
}

}  // namespace KvoPluginIm
