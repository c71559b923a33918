#include "agent/InotifySource.h"

#include <sys/inotify.h>

#include <cerrno>
#include <vector>

#include "agent/RealtimePlatform.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

// IN_MOVE_SELF tells that an anchor moved away with the watched trees below it.
const unsigned int kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF |
                           IN_ONLYDIR | IN_DONT_FOLLOW;

bool Below(const std::string& path, const std::string& dir) { return path.compare(0, dir.size(), dir) == 0; }

}  // namespace

std::unique_ptr<CInotifySource> CInotifySource::Create(std::string& error) {
    const int fd = CRealtimePlatform::InotifyInit(error);
    if (fd < 0) return nullptr;
    return std::unique_ptr<CInotifySource>(new CInotifySource(fd));
}

CInotifySource::~CInotifySource() { CRealtimePlatform::Close(m_fd); }

bool CInotifySource::Watch(const CWatchList& list, std::string&) {
    for (const auto& watch : m_wdPath) CRealtimePlatform::InotifyRemoveWatch(m_fd, watch.first);
    for (const auto& anchor : m_anchorWd)
        if (m_wdPath.count(anchor.first) == 0) CRealtimePlatform::InotifyRemoveWatch(m_fd, anchor.first);
    m_wdPath.clear();
    m_pathWd.clear();
    m_anchorWd.clear();
    m_unwatched = 0;
    m_warnedAt = 0;
    m_list = list;
    FollowMounts(m_list, CRealtimePlatform::LocalMounts(), true);
    for (const auto& dir : list.Dirs()) {
        AddTree(dir, nullptr);
        Anchor(dir, nullptr);
    }
    WarnUnwatched();
    if (list.HasExtensions())
        KvoCore::LogWarning(
            "real-time: inotify cannot watch files by their extension across the host (sets based at the root); "
            "incremental scans cover them");
    return true;
}

void CInotifySource::AddTree(const std::string& dir, CChangeSink* sink) {
    if (!m_list.Covers(dir) || m_pathWd.count(dir) > 0) return;
    const int wd = CRealtimePlatform::InotifyAddWatch(m_fd, dir, kMask);
    if (wd >= 0) {
        m_wdPath[wd] = dir;
        m_pathWd[dir] = wd;
    } else if (errno == ENOSPC) {
        ++m_unwatched;
    } else {
        return;  // gone, or not a directory
    }
    // Entries made before the watch was in place would otherwise go unseen.
    if (sink != nullptr)
        for (const auto& entry : CRealtimePlatform::Entries(dir))
            if (m_list.Covers(entry)) Emit(*sink, "create", entry);
    for (const auto& sub : CRealtimePlatform::Subdirectories(dir)) AddTree(sub + "/", sink);
}

// A watch is on a directory, not on its path: a filesystem mounted in a
// watched tree, or above one, hides the directories watched there, and its
// unmount shows them again. Each watched path that a mount point came to or
// went from is watched anew where it now leads, what is there reported as
// created.
void CInotifySource::MountsChanged(CChangeSink& sink) {
    const MountChanges changes = FollowMounts(m_list, CRealtimePlatform::LocalMounts(), false);
    UnmountsMissed(changes, sink);
    for (const auto& point : changes.points) {
        const bool covered = m_list.Covers(point);
        // Another directory is there now.
        if (covered) Emit(sink, "update", point);
        for (const auto& dir : covered ? std::vector<std::string>{point} : m_list.DirsWithin(point)) {
            const auto known = m_pathWd.find(dir);
            if (known != m_pathWd.end() && CRealtimePlatform::InotifyAddWatch(m_fd, dir, kMask) == known->second)
                continue;
            RemoveTree(dir);
            AddTree(dir, &sink);
        }
    }
    // A watched directory not there yet may now be made on another filesystem.
    AnchorUnwatched("/", sink);
    WarnUnwatched();
}

// A watch dies with its directory: a watched directory removed and made
// again, or made only after the start, is seen through a watch on its nearest
// existing ancestor, which moves down as the missing directories come.
void CInotifySource::Anchor(const std::string& dir, CChangeSink* sink) {
    for (;;) {
        const std::string at = CRealtimePlatform::NearestExisting(CWatchList::Parent(dir));
        const int wd = CRealtimePlatform::InotifyAddWatch(m_fd, at, kMask);
        if (wd >= 0) m_anchorWd[wd] = at;
        // A directory made on the way since it was looked for: go deeper.
        if (at == CWatchList::Parent(dir) || wd < 0) break;
        std::string next = dir.substr(0, dir.find('/', at.size()) + 1);
        if (!CRealtimePlatform::Exists(next)) break;
    }
    if (sink != nullptr && m_pathWd.count(dir) == 0 && CRealtimePlatform::Exists(dir)) {
        Emit(*sink, "create", dir);
        AddTree(dir, sink);
    }
}

void CInotifySource::HandleAnchorEvent(const inotify_event& event, CChangeSink& sink) {
    const auto anchor = m_anchorWd.find(event.wd);
    if (anchor == m_anchorWd.end()) return;
    if (event.mask & IN_MOVE_SELF) {
        const std::string moved = anchor->second;
        AnchorMoved(moved, sink);
        return;
    }
    if (!(event.mask & IN_ISDIR) || event.len == 0) return;
    const std::string entry = anchor->second + event.name + "/";
    if (event.mask & IN_MOVED_FROM) TreesLeft(entry, sink);
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) AnchorUnwatched(entry, sink);
}

void CInotifySource::AnchorUnwatched(const std::string& within, CChangeSink& sink) {
    for (const auto& dir : m_list.DirsWithin(within))
        if (m_pathWd.count(dir) == 0) Anchor(dir, &sink);
}

// The watches went along with the trees moved away from dir (a watched
// directory or one above): what they see is no longer at the watched paths.
void CInotifySource::TreesLeft(const std::string& dir, CChangeSink& sink) {
    for (const auto& watched : m_list.DirsWithin(dir)) {
        if (m_pathWd.count(watched) == 0) continue;
        RemoveTree(watched);
        if (m_list.Covers(watched)) Emit(sink, "delete", watched);
    }
}

// An anchor moved itself (a directory above it was not watched): a new one
// is found for each watched directory below it, there again or not.
void CInotifySource::AnchorMoved(const std::string& moved, CChangeSink& sink) {
    for (auto it = m_anchorWd.begin(); it != m_anchorWd.end();) {
        if (it->second != moved) {
            ++it;
            continue;
        }
        CRealtimePlatform::InotifyRemoveWatch(m_fd, it->first);
        it = m_anchorWd.erase(it);
    }
    TreesLeft(moved, sink);
    AnchorUnwatched(moved, sink);
}

void CInotifySource::RemoveTree(const std::string& dir) {
    for (auto it = m_pathWd.lower_bound(dir); it != m_pathWd.end() && Below(it->first, dir);) {
        CRealtimePlatform::InotifyRemoveWatch(m_fd, it->second);
        m_wdPath.erase(it->second);
        it = m_pathWd.erase(it);
    }
}

void CInotifySource::MoveTree(const std::string& from, const std::string& to) {
    std::vector<std::pair<std::string, int>> moved;
    for (auto it = m_pathWd.lower_bound(from); it != m_pathWd.end() && Below(it->first, from);) {
        moved.emplace_back(to + it->first.substr(from.size()), it->second);
        it = m_pathWd.erase(it);
    }
    for (const auto& entry : moved) {
        m_pathWd[entry.first] = entry.second;
        m_wdPath[entry.second] = entry.first;
    }
}

void CInotifySource::Read(CChangeSink& sink) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (int reads = 0; reads < kReadsPerTurn; ++reads) {
        const ssize_t length = CRealtimePlatform::Read(m_fd, buffer, sizeof buffer);
        if (length <= 0) break;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            HandleEvent(*event, sink);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    WarnUnwatched();
}

void CInotifySource::HandleEvent(const inotify_event& event, CChangeSink& sink) {
    if (event.mask & IN_Q_OVERFLOW) {
        FlushMove(sink);
        sink.Missed(1, "the kernel's inotify queue overflowed");
        return;
    }
    if (m_moveCookie != 0 && !((event.mask & IN_MOVED_TO) && event.cookie == m_moveCookie)) FlushMove(sink);
    const auto watch = m_wdPath.find(event.wd);
    // A watched directory moved: its parent, always watched, told where.
    if ((event.mask & IN_MOVE_SELF) && watch != m_wdPath.end()) return;
    if (event.mask & IN_IGNORED) {
        if (watch != m_wdPath.end()) {
            m_pathWd.erase(watch->second);
            m_wdPath.erase(watch);
        }
        const auto anchor = m_anchorWd.find(event.wd);
        if (anchor != m_anchorWd.end()) {
            // Removed itself: the watch moves up to what is left.
            const std::string gone = anchor->second;
            m_anchorWd.erase(anchor);
            AnchorUnwatched(gone, sink);
        }
        return;
    }
    if (watch == m_wdPath.end()) {
        HandleAnchorEvent(event, sink);
        return;
    }
    const bool isDir = (event.mask & IN_ISDIR) != 0;
    std::string path = watch->second;
    if (event.len > 0 && event.name[0] != '\0') path += std::string(event.name) + (isDir ? "/" : "");
    if (event.mask & IN_MOVED_FROM) {
        m_moveCookie = event.cookie;
        m_movedFrom = path;
        return;
    }
    if (event.mask & IN_MOVED_TO) {
        if (m_moveCookie != 0 && event.cookie == m_moveCookie) {
            m_moveCookie = 0;
            if (isDir) MoveTree(m_movedFrom, path);
            const bool from = m_list.Covers(m_movedFrom), to = m_list.Covers(path);
            if (from && to) Emit(sink, "rename", path, m_movedFrom);
            else if (from) Emit(sink, "delete", m_movedFrom);
            else if (to) Emit(sink, "create", path);
            // What was made in a directory just before it moved is found gone
            // where it was made: every entry is told moved too (one the
            // directory's move carried already is found unchanged).
            if (from && to && isDir)
                ForEachCovered(m_list, path, [&](const std::string& entry) {
                    Emit(sink, "rename", entry, m_movedFrom + entry.substr(path.size()));
                });
            // Moved in from a place not watched: what it holds arrives with it.
            if (isDir && from != to) RemoveTree(path);
            if (isDir && to && !from) AddTree(path, &sink);
            return;
        }
        if (m_list.Covers(path)) Emit(sink, "create", path);
        if (isDir) AddTree(path, &sink);
        return;
    }
    if (!m_list.Covers(path)) return;
    if (event.mask & IN_CREATE) {
        Emit(sink, "create", path);
        if (isDir) AddTree(path, &sink);
    }
    if (event.mask & (IN_MODIFY | IN_ATTRIB)) Emit(sink, "update", path);
    if (event.mask & IN_DELETE) Emit(sink, "delete", path);
}

void CInotifySource::FlushMove(CChangeSink& sink) {
    if (m_moveCookie == 0) return;
    m_moveCookie = 0;
    if (m_movedFrom.back() == '/') RemoveTree(m_movedFrom);
    if (m_list.Covers(m_movedFrom)) Emit(sink, "delete", m_movedFrom);
}

void CInotifySource::Emit(CChangeSink& sink, const char* operation, const std::string& path,
                          const std::string& oldPath) {
    CRealtimeNotification notification;
    notification.operationType = operation;
    notification.realpath = path;
    notification.oldname = oldPath;
    notification.time = CRealtimePlatform::NowMillis();
    sink.Deliver(std::move(notification));
}

void CInotifySource::WarnUnwatched() {
    if (m_unwatched <= m_warnedAt) return;
    m_warnedAt = m_unwatched;
    KvoCore::LogWarning(wxString::Format(
        "real-time: the inotify watch limit is reached; %lld directories are not watched (raise "
        "fs.inotify.max_user_watches); incremental scans cover them meanwhile",
        m_unwatched));
}

}  // namespace KvoAgent
