#include "agent/ChangeSource.h"

#include <set>

#include "agent/RealtimePlatform.h"

namespace KvoAgent {

CChangeSource::MountChanges CChangeSource::FollowMounts(const CWatchList& list,
                                                        const std::vector<CRealtimePlatform::Mount>& mounts,
                                                        bool first) {
    std::set<std::pair<int, std::string>> now;
    for (const auto& mount : mounts) {
        std::string point = CWatchList::WithSlash(mount.point);
        if (list.Covers(point) || !list.DirsWithin(point).empty()) now.emplace(mount.id, std::move(point));
    }
    MountChanges changes;
    if (!first) {
        for (const auto& mount : now)
            if (m_mounts.count(mount) == 0) changes.points.insert(mount.second);
        for (const auto& mount : m_mounts) {
            if (now.count(mount) > 0) continue;
            changes.points.insert(mount.second);
            ++changes.unmounted;
        }
    }
    m_mounts.swap(now);
    return changes;
}

void CChangeSource::UnmountsMissed(const MountChanges& changes, CChangeSink& sink) {
    if (changes.unmounted > 0) sink.Missed(changes.unmounted, "a filesystem was unmounted in a watched tree");
}

void CChangeSource::ForEachCovered(const CWatchList& list, const std::string& dir,
                                   const std::function<void(const std::string&)>& report) {
    for (const auto& entry : CRealtimePlatform::Entries(dir)) {
        if (list.Covers(entry)) report(entry);
        if (entry.back() == '/') ForEachCovered(list, entry, report);
    }
}

}  // namespace KvoAgent
