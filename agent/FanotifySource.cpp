#include "agent/FanotifySource.h"

#include <fcntl.h>
#include <sys/fanotify.h>

#include <algorithm>
#include <cstring>

#include "agent/RealtimePlatform.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

const unsigned long long kMask = FAN_CREATE | FAN_DELETE | FAN_MODIFY | FAN_ATTRIB | FAN_RENAME | FAN_ONDIR;
// Remembered directory handles; past this the map starts again.
const size_t kMaxDirs = 65536;
// A change in a directory that is gone by the time its event is read waits
// this long for the removal of that directory to tell where it was.
const long long kParkMs = 1000;
const size_t kMaxParked = 65536;

unsigned long long FsidOf(const __kernel_fsid_t& fsid) {
    return (static_cast<unsigned long long>(static_cast<unsigned int>(fsid.val[0])) << 32) |
           static_cast<unsigned int>(fsid.val[1]);
}

std::string Joined(const std::string& dir, const std::string& name, bool isDir) {
    if (name == ".") return CWatchList::WithSlash(dir);
    std::string path = CWatchList::WithSlash(dir) + name;
    return isDir ? path + "/" : path;
}

}  // namespace

std::unique_ptr<CFanotifySource> CFanotifySource::Create(std::string& error) {
    const int fd = CRealtimePlatform::FanotifyInit(error);
    if (fd < 0) return nullptr;
    return std::unique_ptr<CFanotifySource>(new CFanotifySource(fd));
}

CFanotifySource::~CFanotifySource() { CRealtimePlatform::Close(m_fd); }

bool CFanotifySource::Watch(const CWatchList& list, std::string& error) {
    m_list = list;
    m_dirs.clear();
    const std::vector<CRealtimePlatform::Mount> mounts = CRealtimePlatform::LocalMounts();
    FollowMounts(m_list, mounts, true);
    return MarkFilesystems(mounts, &error);
}

void CFanotifySource::MountsChanged(CChangeSink& sink) {
    // A mount may hide a directory whose path is remembered.
    m_dirs.clear();
    const std::vector<CRealtimePlatform::Mount> mounts = CRealtimePlatform::LocalMounts();
    MarkFilesystems(mounts, nullptr);
    const MountChanges changes = FollowMounts(m_list, mounts, false);
    UnmountsMissed(changes, sink);
    // What a mount shows, or an unmount shows again, no notification names.
    for (const auto& point : changes.points) Arrived(point, 0, nullptr, sink);
}

// Marked again after every change of the mount table, since an unmount takes
// a filesystem's mark with it and the same filesystem may come back.
bool CFanotifySource::MarkFilesystems(const std::vector<CRealtimePlatform::Mount>& mounts, std::string* error) {
    Marks marked;
    std::set<std::string> unmarkable;
    m_unmarked = 0;
    std::vector<std::string> dirs = m_list.Dirs();
    if (m_list.HasExtensions()) dirs.push_back("/");
    for (const auto& dir : dirs) {
        std::string why;
        if (MarkFilesystemOf(dir, mounts, marked, why)) continue;
        if (error != nullptr) {
            *error = why;
            return false;
        }
        Unmarkable(dir, why, unmarkable);
    }
    // Filesystems mounted in a watched tree, and every one for files by extension.
    for (const auto& mount : mounts) {
        if (!m_list.HasExtensions() && !m_list.Covers(CWatchList::WithSlash(mount.point))) continue;
        unsigned long long fsid = 0;
        if (!CRealtimePlatform::FilesystemId(mount.point, fsid)) continue;
        const auto known = marked.find(fsid);
        std::string why;
        if (known != marked.end())
            AddPlace(known->second, mount.point);
        else if (CRealtimePlatform::FanotifyMarkFilesystem(m_fd, mount.point, kMask, why))
            marked[fsid] = {mount.point};
        else
            Unmarkable(mount.point, why, unmarkable);
    }
    // A filesystem no longer wanted (a watched directory now lies on another)
    // would go on flooding the queue with changes of no interest.
    for (const auto& [fsid, places] : m_marked) {
        if (marked.count(fsid) > 0) continue;
        for (const std::string& place : places) {
            unsigned long long now = 0;
            if (!CRealtimePlatform::FilesystemId(place, now) || now != fsid) continue;
            CRealtimePlatform::FanotifyUnmarkFilesystem(m_fd, place, kMask);
            break;
        }
    }
    m_marked.swap(marked);
    m_warned.swap(unmarkable);
    return true;
}

// A directory that does not exist yet is covered through the filesystem of
// its nearest existing ancestor: the filter is by path, so it is reported
// once it is created.
bool CFanotifySource::MarkFilesystemOf(const std::string& dir, const std::vector<CRealtimePlatform::Mount>& mounts,
                                       Marks& marked, std::string& error) {
    const std::string existing = CRealtimePlatform::NearestExisting(dir);
    unsigned long long fsid = 0;
    if (!CRealtimePlatform::FilesystemId(existing, fsid)) {
        error = "cannot read the filesystem of " + existing;
        return false;
    }
    const auto known = marked.find(fsid);
    if (known != marked.end()) {
        AddPlace(known->second, MountPointOf(existing, fsid, mounts));
        return true;
    }
    if (!CRealtimePlatform::FanotifyMarkFilesystem(m_fd, existing, kMask, error)) {
        error = "cannot mark the filesystem of " + existing + ": " + error;
        return false;
    }
    marked[fsid] = {MountPointOf(existing, fsid, mounts)};
    return true;
}

void CFanotifySource::AddPlace(std::vector<std::string>& places, const std::string& place) {
    if (std::find(places.begin(), places.end(), place) == places.end()) places.push_back(place);
}

// Where handles on the filesystem are opened: its mount point, which stays
// while directories below come and go, or else the directory itself.
std::string CFanotifySource::MountPointOf(const std::string& dir, unsigned long long fsid,
                                          const std::vector<CRealtimePlatform::Mount>& mounts) {
    const std::string path = CWatchList::WithSlash(dir);
    std::string best;
    for (const auto& mount : mounts) {
        const std::string point = CWatchList::WithSlash(mount.point);
        unsigned long long id = 0;
        if (point.size() > best.size() && path.compare(0, point.size(), point) == 0 &&
            CRealtimePlatform::FilesystemId(mount.point, id) && id == fsid)
            best = point;
    }
    return best.empty() ? dir : best;
}

void CFanotifySource::Unmarkable(const std::string& path, const std::string& error, std::set<std::string>& unmarkable) {
    ++m_unmarked;
    unmarkable.insert(path);
    if (m_warned.count(path) == 0)
        KvoCore::LogWarning(wxString::FromUTF8("real-time: fanotify cannot watch the filesystem at " + path + " (" +
                                               error + "); incremental scans cover it"));
}

void CFanotifySource::Read(CChangeSink& sink) {
    char buffer[64 * 1024];
    for (int reads = 0; reads < kReadsPerTurn; ++reads) {
        const ssize_t length = CRealtimePlatform::Read(m_fd, buffer, sizeof buffer);
        if (length <= 0) break;
        size_t offset = 0;
        while (offset + sizeof(fanotify_event_metadata) <= static_cast<size_t>(length)) {
            fanotify_event_metadata event;
            memcpy(&event, buffer + offset, sizeof event);
            if (event.event_len < sizeof event || offset + event.event_len > static_cast<size_t>(length)) break;
            if (event.fd >= 0) CRealtimePlatform::Close(event.fd);
            if (event.event_len > kMaxRecord) {
                sink.Missed(1, "an event was too large to read");
            } else {
                HandleRecord(buffer + offset, event.event_len, sink);
            }
            offset += event.event_len;
        }
    }
    RetryParked(sink);
}

void CFanotifySource::Idle(CChangeSink& sink) { RetryParked(sink); }

void CFanotifySource::HandleRecord(const char* bytes, size_t length, CChangeSink& sink) {
    // A record with a name is only 4-byte aligned in the buffer: it is read
    // from an aligned copy of its own.
    alignas(fanotify_event_metadata) char record[kMaxRecord];
    memcpy(record, bytes, length);
    const auto& event = *reinterpret_cast<const fanotify_event_metadata*>(record);
    if (HandleEvent(event, sink, nullptr)) return;
    if (m_parked.size() >= kMaxParked) {
        sink.Missed(1, "a changed directory could not be found by its handle");
        return;
    }
    // Who made the change is asked now, while the process may still run.
    Parked parked{std::string(bytes, length), CRealtimePlatform::NowMillis(), {}, {}};
    if (event.pid > 0) m_identity.Lookup(event.pid, parked.user, parked.process);
    m_parked.push_back(std::move(parked));
}

// A directory found again may be the one another parked change needs: round
// again until no more are found. Those that waited too long cost a scan.
void CFanotifySource::RetryParked(CChangeSink& sink) {
    if (m_parked.empty()) return;
    alignas(fanotify_event_metadata) char record[kMaxRecord];
    m_lookupOnly = true;
    for (bool found = true; found;) {
        found = false;
        for (auto it = m_parked.begin(); it != m_parked.end();) {
            memcpy(record, it->bytes.data(), it->bytes.size());
            if (HandleEvent(*reinterpret_cast<const fanotify_event_metadata*>(record), sink, &*it)) {
                it = m_parked.erase(it);
                found = true;
            } else {
                ++it;
            }
        }
    }
    m_lookupOnly = false;
    const long long now = CRealtimePlatform::NowMillis();
    while (!m_parked.empty() && now - m_parked.front().at >= kParkMs) {
        sink.Missed(1, "a changed directory could not be found by its handle");
        m_parked.pop_front();
    }
}

bool CFanotifySource::DirectoryOf(const void* info, std::string& dir, std::string& name) {
    const auto* fid = static_cast<const fanotify_event_info_fid*>(info);
    auto* handle = reinterpret_cast<file_handle*>(const_cast<unsigned char*>(fid->handle));
    name = reinterpret_cast<const char*>(handle->f_handle + handle->handle_bytes);
    std::string key = KeyOf(info);
    const auto known = m_dirs.find(key);
    if (known != m_dirs.end()) {
        dir = known->second;
        return true;
    }
    const auto gone = m_gone.find(key);
    if (gone != m_gone.end()) {
        dir = gone->second;
        return true;
    }
    const auto marked = m_marked.find(FsidOf(fid->fsid));
    // Read after its filesystem left the watch (unmounted, or no longer where
    // a watched directory is): nothing watched is there.
    if (marked == m_marked.end()) {
        dir.clear();
        return true;
    }
    // A handle that could not be opened once is of a directory that is gone.
    if (m_lookupOnly || !ResolveHandle(marked->first, marked->second, handle, name, dir)) return false;
    if (m_dirs.size() >= kMaxDirs) m_dirs.clear();
    m_dirs.emplace(std::move(key), dir);
    return true;
}

// A handle names a directory wherever its filesystem is mounted, and each
// mount gives it another path: a bind mount in a watched tree makes a watched
// path of one that would otherwise lie outside. The first path the watch list
// covers is taken, else the first found; a directory that no place reaches is
// outside the watch (an empty dir). Each place is opened for the moment, so
// that every filesystem can still be unmounted. False: the directory is gone.
bool CFanotifySource::ResolveHandle(unsigned long long fsid, const std::vector<std::string>& places,
                                    file_handle* handle, const std::string& name, std::string& dir) const {
    using HandlePath = CRealtimePlatform::HandlePath;
    bool known = false;
    dir.clear();
    for (const std::string& place : places) {
        const int mountFd = CRealtimePlatform::OpenDirectoryOn(place, fsid);
        std::string path;
        const HandlePath found = mountFd >= 0 ? CRealtimePlatform::PathOfHandle(mountFd, handle, path) : HandlePath::Gone;
        CRealtimePlatform::Close(mountFd);
        if (found == HandlePath::Gone) continue;
        known = true;
        if (found == HandlePath::Outside) continue;
        const std::string inside = CWatchList::WithSlash(path);
        if (m_list.Covers(inside) || m_list.Covers(inside + name) || m_list.Covers(inside + name + "/")) {
            dir = path;
            return true;
        }
        if (dir.empty()) dir = path;
    }
    return known;
}

std::string CFanotifySource::KeyOf(const void* info) {
    const auto* fid = static_cast<const fanotify_event_info_fid*>(info);
    const auto* handle = reinterpret_cast<const file_handle*>(fid->handle);
    const unsigned long long fsid = FsidOf(fid->fsid);
    std::string key(reinterpret_cast<const char*>(&fsid), sizeof fsid);
    key.append(reinterpret_cast<const char*>(&handle->handle_type), sizeof handle->handle_type);
    key.append(reinterpret_cast<const char*>(handle->f_handle), handle->handle_bytes);
    return key;
}

bool CFanotifySource::HandleEvent(const fanotify_event_metadata& event, CChangeSink& sink, const Parked* parked) {
    if (event.mask & FAN_Q_OVERFLOW) {
        sink.Missed(1, "the kernel's fanotify queue overflowed");
        return true;
    }
    const bool isDir = (event.mask & FAN_ONDIR) != 0;
    std::string path, oldPath, newPath, entry;
    const char* at = reinterpret_cast<const char*>(&event) + event.metadata_len;
    const char* end = reinterpret_cast<const char*>(&event) + event.event_len;
    while (at + sizeof(fanotify_event_info_header) <= end) {
        const auto* header = reinterpret_cast<const fanotify_event_info_header*>(at);
        if (header->len == 0) break;
        std::string dir, name;
        const int type = header->info_type;
        if (type == FAN_EVENT_INFO_TYPE_FID) {
            entry = KeyOf(header);
        } else if (type == FAN_EVENT_INFO_TYPE_DFID_NAME || type == FAN_EVENT_INFO_TYPE_OLD_DFID_NAME ||
                   type == FAN_EVENT_INFO_TYPE_NEW_DFID_NAME) {
            if (!DirectoryOf(header, dir, name)) return false;
            std::string& target = type == FAN_EVENT_INFO_TYPE_OLD_DFID_NAME   ? oldPath
                                   : type == FAN_EVENT_INFO_TYPE_NEW_DFID_NAME ? newPath
                                                                               : path;
            if (!dir.empty()) target = Joined(dir, name, isDir);
        }
        at += header->len;
    }
    // A removed directory's handle can no longer be opened: the changes made
    // in it before, read after, find it here.
    if (isDir && (event.mask & FAN_DELETE) && !entry.empty() && !path.empty()) {
        if (m_gone.size() >= kMaxDirs) m_gone.clear();
        m_gone[entry] = path;
    }
    Report(event, isDir, path, oldPath, newPath, parked, sink);
    return true;
}

void CFanotifySource::Report(const fanotify_event_metadata& event, bool isDir, const std::string& path,
                             const std::string& oldPath, const std::string& newPath, const Parked* parked,
                             CChangeSink& sink) {
    const int pid = event.pid;
    if (event.mask & FAN_RENAME) {
        // Paths under a renamed directory are no longer where they were remembered.
        if (isDir) m_dirs.clear();
        const bool from = !oldPath.empty() && m_list.Covers(oldPath);
        const bool to = !newPath.empty() && m_list.Covers(newPath);
        if (from && to) {
            Emit(sink, "rename", newPath, oldPath, pid, parked);
            if (isDir) Moved(oldPath, newPath, pid, parked, sink);
        } else {
            if (from) Emit(sink, "delete", oldPath, "", pid, parked);
            else if (isDir && !oldPath.empty()) Left(oldPath, pid, parked, sink);
            if (isDir && !newPath.empty()) Arrived(newPath, pid, parked, sink);
            else if (to) Emit(sink, "create", newPath, "", pid, parked);
        }
    }
    if (path.empty() || !m_list.Covers(path)) return;
    const bool created = event.mask & FAN_CREATE, deleted = event.mask & FAN_DELETE;
    // Merged in the kernel's queue, a create and a delete keep no order: what
    // exists now says which came last.
    if (created && deleted && CRealtimePlatform::Exists(path)) Emit(sink, "delete", path, "", pid, parked);
    if (created) Emit(sink, "create", path, "", pid, parked);
    if (event.mask & (FAN_MODIFY | FAN_ATTRIB)) Emit(sink, "update", path, "", pid, parked);
    if (deleted && !(created && CRealtimePlatform::Exists(path))) Emit(sink, "delete", path, "", pid, parked);
}

// A directory above watched ones moved away takes them along: they are gone
// from their paths (what they held goes with them, for the receiver).
void CFanotifySource::Left(const std::string& dir, int pid, const Parked* parked, CChangeSink& sink) {
    for (const auto& watched : m_list.DirsWithin(dir)) Emit(sink, "delete", watched, "", pid, parked);
}

// What was made in a directory just before it moved is found gone where it
// was made: every entry is told moved too, from where it was to where it is
// now (one the directory's move carried already is found unchanged).
void CFanotifySource::Moved(const std::string& from, const std::string& to, int pid, const Parked* parked,
                            CChangeSink& sink) {
    ForEachCovered(m_list, to, [&](const std::string& path) {
        Emit(sink, "rename", path, from + path.substr(to.size()), pid, parked);
    });
}

// A directory moved in brings what it holds, of which no notification told;
// so does one moved to a path above watched directories.
void CFanotifySource::Arrived(const std::string& dir, int pid, const Parked* parked, CChangeSink& sink) {
    std::vector<std::string> trees;
    if (m_list.Covers(dir)) trees.push_back(dir);
    else
        for (const auto& watched : m_list.DirsWithin(dir))
            if (CRealtimePlatform::Exists(watched)) trees.push_back(watched);
    for (const auto& tree : trees) {
        Emit(sink, "create", tree, "", pid, parked);
        ForEachCovered(m_list, tree, [&](const std::string& path) { Emit(sink, "create", path, "", pid, parked); });
    }
}

void CFanotifySource::Emit(CChangeSink& sink, const char* operation, const std::string& path,
                           const std::string& oldPath, int pid, const Parked* parked) {
    CRealtimeNotification notification;
    notification.operationType = operation;
    notification.realpath = path;
    notification.oldname = oldPath;
    notification.time = CRealtimePlatform::NowMillis();
    if (pid > 0) {
        notification.pid = std::to_string(pid);
        if (parked != nullptr) {
            notification.procUser = parked->user;
            notification.processName = parked->process;
        } else {
            m_identity.Lookup(pid, notification.procUser, notification.processName);
        }
    }
    sink.Deliver(std::move(notification));
}

}  // namespace KvoAgent
