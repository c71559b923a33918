// CInotifySource: changes through inotify where fanotify is not available:
// a watch on every directory of the watched trees, added for new directories
// and for filesystems mounted there as they come (their first entries
// reported as created), and one on the nearest existing ancestor of each
// watched directory, so that one made (again) is seen; renames paired by
// cookie, no user or process. Beyond the watch limit the directories left
// unwatched are counted and a warning names the setting to raise; the
// engine has them covered by incremental scans meanwhile, as it has files
// watched by their extension (sets based at the root), which inotify cannot
// follow across the whole host.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/ChangeSource.h"

struct inotify_event;

namespace KvoAgent {

class CInotifySource : public CChangeSource {
public:
    static std::unique_ptr<CInotifySource> Create(std::string& error);
    ~CInotifySource() override;
    CInotifySource(const CInotifySource&) = delete;
    CInotifySource& operator=(const CInotifySource&) = delete;

    const char* Kind() const override { return "inotify"; }
    int Fd() const override { return m_fd; }
    bool Watch(const CWatchList& list, std::string& error) override;
    void Read(CChangeSink& sink) override;
    // A move out waits this long for its move in.
    int IdleTimeoutMs() const override { return m_moveCookie != 0 ? 20 : -1; }
    void Idle(CChangeSink& sink) override { FlushMove(sink); }
    void MountsChanged(CChangeSink& sink) override;
    long long WatchedDirs() const override { return static_cast<long long>(m_wdPath.size()); }
    long long UnwatchedDirs() const override { return m_unwatched; }
    // Files by extension would need a watch on every directory of the host.
    bool LeavesGaps() const override { return m_unwatched > 0 || m_list.HasExtensions(); }

private:
    explicit CInotifySource(int fd) : m_fd(fd) {}
    // Watches dir (ending with "/") and every directory below it; with a
    // sink, reports what is already inside as created.
    void AddTree(const std::string& dir, CChangeSink* sink);
    void RemoveTree(const std::string& dir);
    // Watches the nearest existing ancestor of a watched directory; with a
    // sink, the directory itself once it is there (reported as created).
    void Anchor(const std::string& dir, CChangeSink* sink);
    void HandleAnchorEvent(const inotify_event& event, CChangeSink& sink);
    // Watched trees at or below dir were moved away from their paths.
    void TreesLeft(const std::string& dir, CChangeSink& sink);
    void AnchorMoved(const std::string& moved, CChangeSink& sink);
    // Anchors the watched directories at or below within that have no watch.
    void AnchorUnwatched(const std::string& within, CChangeSink& sink);
    void MoveTree(const std::string& from, const std::string& to);
    void HandleEvent(const inotify_event& event, CChangeSink& sink);
    // A move out that found no move in: the entry left the watched trees.
    void FlushMove(CChangeSink& sink);
    void Emit(CChangeSink& sink, const char* operation, const std::string& path, const std::string& oldPath = "");
    void WarnUnwatched();

    int m_fd;
    CWatchList m_list;
    std::unordered_map<int, std::string> m_wdPath;  // watch -> directory, with a trailing "/"
    std::map<std::string, int> m_pathWd;
    std::map<int, std::string> m_anchorWd;            // watch -> ancestor of a watched directory
    long long m_unwatched = 0;
    long long m_warnedAt = 0;
    unsigned int m_moveCookie = 0;
    std::string m_movedFrom;
};

}  // namespace KvoAgent
