// CFanotifySource: changes of whole filesystems through fanotify, with the
// directory handle and name of each change and the pid that made it. One
// filesystem mark per filesystem that holds a watched directory or is mounted
// in a watched tree (followed as the host mounts and unmounts), and on every
// filesystem of the host's files when extensions are watched (one that cannot
// be marked is left to incremental scans); events outside the watch list are
// dropped here. Directory handles are resolved to paths through the mount
// point of their filesystem, opened for the moment so that no filesystem is
// kept from unmounting, and remembered until a directory is renamed.
// A change read after its directory was removed (an rm -rf) waits up to a
// second for the removal's own event, which names the directory's handle and
// where it was; only a change whose directory stays unknown costs a scan.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/ChangeSource.h"
#include "agent/ProcessIdentity.h"
#include "agent/RealtimePlatform.h"

struct fanotify_event_metadata;

namespace KvoAgent {

class CFanotifySource : public CChangeSource {
public:
    // Null, with the reason, when the kernel refuses fanotify (no
    // CAP_SYS_ADMIN, or no directory handles in events).
    static std::unique_ptr<CFanotifySource> Create(std::string& error);
    ~CFanotifySource() override;
    CFanotifySource(const CFanotifySource&) = delete;
    CFanotifySource& operator=(const CFanotifySource&) = delete;

    const char* Kind() const override { return "fanotify"; }
    int Fd() const override { return m_fd; }
    bool Watch(const CWatchList& list, std::string& error) override;
    void Read(CChangeSink& sink) override;
    long long WatchedDirs() const override { return static_cast<long long>(m_list.Dirs().size()); }
    int IdleTimeoutMs() const override { return m_parked.empty() ? -1 : 100; }
    bool LeavesGaps() const override { return m_unmarked > 0; }
    void Idle(CChangeSink& sink) override;
    void MountsChanged(CChangeSink& sink) override;

private:
    // A change whose directory could not be found yet, with who made it.
    struct Parked {
        std::string bytes;
        long long at;
        std::string user;
        std::string process;
    };
    static const size_t kMaxRecord = 4096;

    explicit CFanotifySource(int fd) : m_fd(fd) {}
    // error given: a watched directory whose filesystem cannot be marked
    // fails the whole; without, it is warned about and left to scans.
    bool MarkFilesystems(const std::vector<CRealtimePlatform::Mount>& mounts, std::string* error);
    // Filesystem id -> the mount points (or directories) its handles are opened at.
    using Marks = std::map<unsigned long long, std::vector<std::string>>;
    bool MarkFilesystemOf(const std::string& dir, const std::vector<CRealtimePlatform::Mount>& mounts, Marks& marked,
                          std::string& error);
    static void AddPlace(std::vector<std::string>& places, const std::string& place);
    static std::string MountPointOf(const std::string& dir, unsigned long long fsid,
                                    const std::vector<CRealtimePlatform::Mount>& mounts);
    // Counts a filesystem that cannot be marked; unmarkable collects where, warned once each.
    void Unmarkable(const std::string& path, const std::string& error, std::set<std::string>& unmarkable);
    void HandleRecord(const char* bytes, size_t length, CChangeSink& sink);
    void RetryParked(CChangeSink& sink);
    // False, reporting nothing, when a directory of the event cannot be found.
    bool HandleEvent(const fanotify_event_metadata& event, CChangeSink& sink, const Parked* parked);
    // parked: the change waited for its directory, and who made it was asked then.
    void Report(const fanotify_event_metadata& event, bool isDir, const std::string& path,
                const std::string& oldPath, const std::string& newPath, const Parked* parked, CChangeSink& sink);
    // A directory that left path, or came to it, by a rename.
    void Left(const std::string& dir, int pid, const Parked* parked, CChangeSink& sink);
    void Arrived(const std::string& dir, int pid, const Parked* parked, CChangeSink& sink);
    void Moved(const std::string& from, const std::string& to, int pid, const Parked* parked, CChangeSink& sink);
    // The directory of a handle record (empty: one no watched path reaches,
    // or on a filesystem no longer watched),
    // or false when it cannot be found.
    bool DirectoryOf(const void* info, std::string& dir, std::string& name);
    bool ResolveHandle(unsigned long long fsid, const std::vector<std::string>& places, file_handle* handle,
                       const std::string& name, std::string& dir) const;
    // The identity of the object a handle record names.
    static std::string KeyOf(const void* info);
    void Emit(CChangeSink& sink, const char* operation, const std::string& path, const std::string& oldPath,
              int pid, const Parked* parked);

    int m_fd;
    CWatchList m_list;
    Marks m_marked;
    long long m_unmarked = 0;                            // filesystems that could not be marked
    std::set<std::string> m_warned;                      // where they are, said once
    std::unordered_map<std::string, std::string> m_dirs;  // handle -> directory path
    std::unordered_map<std::string, std::string> m_gone;  // handle -> path of a removed directory
    std::deque<Parked> m_parked;
    bool m_lookupOnly = false;          // while retrying: a handle that failed once stays gone
    CProcessIdentity m_identity;
};

}  // namespace KvoAgent
