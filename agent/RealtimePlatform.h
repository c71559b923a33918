// CRealtimePlatform: every kernel and /proc call of the real-time engine, in
// one place, so that the sources above it hold only their bookkeeping. All
// functions are static and thread-safe; descriptors belong to the caller.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct file_handle;

namespace KvoAgent {

class CRealtimePlatform {
public:
    // fanotify for whole filesystems, reporting directory handles and names
    // (and renames as one event), and the handle of the entry itself where
    // the kernel gives it; -1 with the reason when refused.
    static int FanotifyInit(std::string& error);
    static bool FanotifyMarkFilesystem(int fd, const std::string& path, unsigned long long mask, std::string& error);
    static void FanotifyUnmarkFilesystem(int fd, const std::string& path, unsigned long long mask);
    static int InotifyInit(std::string& error);
    // The watch descriptor, or -1 with errno kept (ENOSPC: the watch limit).
    static int InotifyAddWatch(int fd, const std::string& dir, unsigned int mask);
    static void InotifyRemoveWatch(int fd, int wd);
    // An eventfd that wakes WaitReadable.
    static int WakeFdCreate();
    static void Wake(int wakeFd);
    static void DrainWake(int wakeFd);
    // Waits at most ms (negative: forever); true when fd has something to
    // read. mountsFd (or -1) is an open mount table: mountsChanged tells that
    // a filesystem was mounted or unmounted since the last wait.
    static bool WaitReadable(int fd, int wakeFd, int mountsFd, int ms, bool& mountsChanged);
    static int OpenMountTable();
    // Bytes read, 0 when nothing is waiting, -1 on an error.
    static ssize_t Read(int fd, void* buffer, size_t size);
    static void Close(int fd);

    static int OpenDirectory(const std::string& path);
    // A descriptor on path only while the filesystem there is still fsid:
    // a handle decoded through another one would name some other file.
    static int OpenDirectoryOn(const std::string& path, unsigned long long fsid);
    // The filesystem id statfs gives for path, as the kernel reports it in events.
    static bool FilesystemId(const std::string& path, unsigned long long& fsid);
    // The current path of a directory handle, through a descriptor on a
    // mount of its filesystem: Outside when that mount does not reach it.
    enum class HandlePath { Found, Outside, Gone };
    static HandlePath PathOfHandle(int mountFd, file_handle* handle, std::string& path);
    static bool Exists(const std::string& path);
    // dir, or else its nearest ancestor that exists (both with a trailing "/").
    static std::string NearestExisting(const std::string& dir);
    struct Mount {
        int id;             // the kernel's, new for every mount
        std::string point;  // without a trailing "/"
    };
    // The filesystems that hold the host's files (no kernel views, no NFS shares).
    static std::vector<Mount> LocalMounts();
    // Subdirectories of dir (links not followed), full paths without a trailing "/".
    static std::vector<std::string> Subdirectories(const std::string& dir);
    // Entries of dir, full paths, directories with a trailing "/".
    static std::vector<std::string> Entries(const std::string& dir);

    // Who a process is: its effective user's name and its executable (or,
    // when that cannot be read, its command name). Empty when it has gone.
    static std::string ProcessUser(pid_t pid);
    static std::string ProcessName(pid_t pid);
    static long long NowMillis();
};

}  // namespace KvoAgent
