// CRealtimeEngine: the agent's real-time engine. An agent thread that reads
// the kernel's change notifications (fanotify where the agent may use it,
// else inotify) for a watch list and puts them on a bounded queue that the
// agent's Lua loop empties into the on-change object.
//
// Nothing is lost unseen: a kernel queue overflow, a change whose path
// cannot be found, or a full queue ask the plug-in for an incremental scan
// (CScanRequest) and are logged once per episode with their count. Directories left unwatched (the inotify watch limit) are
// covered by incremental scans instead (CUnwatchedCover). What runs, how many directories it watches and how many
// changes were deferred to scans are published as state keys (AgentKeys.h).
//
// Begin, start and Stop belong to the owner; Watch and Next may be called
// from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/ChangeSink.h"
#include "agent/ChangeSource.h"
#include "agent/RealtimeQueue.h"
#include "agent/ScanRequest.h"
#include "agent/UnwatchedCover.h"
#include "agent/WatchList.h"
#include "core/Dom.h"
#include "core/Runnable.h"

namespace KvoAgent {

class CRealtimeEngine : public KvoCore::CRunnable, private CChangeSink {
public:
    enum class Mode { Off, Auto, Fanotify, Inotify };
    // The setting AgentKeys::kRealtime as a mode.
    static Mode ModeOf(const std::string& setting);

    CRealtimeEngine(KvoCore::CDom& dom, Mode mode, size_t queueCapacity);
    ~CRealtimeEngine() override;

    // Picks the source, before start(); false with the reason when none can run.
    bool Begin(std::string& error);
    // "fanotify", "inotify" or "none".
    std::string Kind() const;
    // Follows new watch lists from now on (applied on the engine's thread).
    void Watch(const std::vector<std::string>& dirs, const std::vector<std::string>& extensions);
    // The next change, waiting at most ms; false when none came, or at once
    // when nothing waits and the agent, the engine or the calling thread stops.
    bool Next(CRealtimeNotification& notification, unsigned int ms);
    // Ends the engine's thread; what waits in the queue can still be taken.
    void Stop();

    void OnRun() override;

private:
    void Deliver(CRealtimeNotification&& notification) override;
    void Missed(long long count, const std::string& why) override;
    void EndMissedEpisode();
    void ApplyWatchList();
    void Publish();

    KvoCore::CDom m_dom;
    const Mode m_mode;
    CRealtimeQueue m_queue;
    std::unique_ptr<CChangeSource> m_source;
    std::atomic<const char*> m_kind{"none"};
    int m_wakeFd = -1;
    std::mutex m_pendingLock;
    bool m_pendingSet = false;
    CWatchList m_pending;
    // The current episode of changes that could not be delivered one by one.
    long long m_missed = 0;
    std::string m_missedWhy;
    long long m_deferred = 0;
    CScanRequest m_scanRequest;
    CUnwatchedCover m_cover;
};

}  // namespace KvoAgent
