// CChangeSource: one kind of kernel notification (fanotify or inotify) turned
// into notifications for a watch list. Used by the engine's thread only.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "agent/ChangeSink.h"
#include "agent/RealtimePlatform.h"
#include "agent/WatchList.h"

namespace KvoAgent {

class CChangeSource {
public:
    virtual ~CChangeSource() = default;
    virtual const char* Kind() const = 0;
    // The descriptor to wait on.
    virtual int Fd() const = 0;
    // Follows a new watch list. False when the source cannot serve it at all
    // (the engine then falls back to another source).
    virtual bool Watch(const CWatchList& list, std::string& error) = 0;
    // Reads what is waiting, at most kReadsPerTurn buffers, and hands it to
    // the sink. The engine turns in between: changes that never stop coming
    // must not keep it from stopping or from following a new watch list.
    virtual void Read(CChangeSink& sink) = 0;
    static constexpr int kReadsPerTurn = 16;
    // How long the engine may wait before calling Idle (negative: forever).
    virtual int IdleTimeoutMs() const { return -1; }
    // Called when the wait ended without anything to read.
    virtual void Idle(CChangeSink&) {}
    // Called when a filesystem was mounted or unmounted: one mounted in a
    // watched tree is watched from then on.
    virtual void MountsChanged(CChangeSink&) {}
    virtual long long WatchedDirs() const = 0;
    virtual long long UnwatchedDirs() const { return 0; }
    // Whether some of the watch list reaches no notification (unwatched
    // directories, or files by extension that the source cannot follow).
    virtual bool LeavesGaps() const { return UnwatchedDirs() > 0; }

protected:
    // A directory that arrives whole (moved in) brings entries no notification
    // told of: hands each covered path in the tree at dir (ending with "/") to
    // report, directories before what they hold. Links are not followed.
    static void ForEachCovered(const CWatchList& list, const std::string& dir,
                               const std::function<void(const std::string&)>& report);

    // Of the mounts at, below or above the watched directories: the points
    // (with a trailing "/") where one came or went since the last call, and
    // how many went. The first call (after a new watch list) only takes note.
    struct MountChanges {
        std::set<std::string> points;
        long long unmounted = 0;
    };
    MountChanges FollowMounts(const CWatchList& list, const std::vector<CRealtimePlatform::Mount>& mounts,
                              bool first);
    // What a filesystem unmounted in a watched tree held is gone from there,
    // and no notification names it: a scan finds it.
    static void UnmountsMissed(const MountChanges& changes, CChangeSink& sink);

private:
    std::set<std::pair<int, std::string>> m_mounts;  // id and point, when last looked at
};

}  // namespace KvoAgent
