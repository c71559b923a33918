#include "agent/RealtimeEngine.h"

#include <algorithm>

#include "agent/AgentKeys.h"
#include "agent/FanotifySource.h"
#include "agent/InotifySource.h"
#include "agent/RealtimePlatform.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

// The longest wait between looks at a stop request that came without a wake-up.
const int kLongestWaitMs = 1000;
// An episode of missed changes ends after this long without another.
const int kEpisodeQuietMs = 100;
// Next waits in slices of this, so that an agent stop ends it soon.
const unsigned int kNextSliceMs = 100;

}  // namespace

CRealtimeEngine::Mode CRealtimeEngine::ModeOf(const std::string& setting) {
    if (setting == "off") return Mode::Off;
    if (setting == "inotify") return Mode::Inotify;
    if (setting == "fanotify") return Mode::Fanotify;
    return Mode::Auto;
}

CRealtimeEngine::CRealtimeEngine(KvoCore::CDom& dom, Mode mode, size_t queueCapacity)
    : CRunnable("realtime-engine", &dom),
      m_dom(dom),
      m_mode(mode),
      m_queue(queueCapacity),
      m_scanRequest(m_dom),
      m_cover(m_scanRequest) {}

CRealtimeEngine::~CRealtimeEngine() {
    Stop();
    CRealtimePlatform::Close(m_wakeFd);
}

bool CRealtimeEngine::Begin(std::string& error) {
    if (m_mode == Mode::Off) {
        error = "turned off by the setting " + std::string(AgentKeys::kRealtime);
        return false;
    }
    m_wakeFd = CRealtimePlatform::WakeFdCreate();
    if (m_wakeFd < 0) {
        error = "cannot create an eventfd";
        return false;
    }
    std::string refused;
    if (m_mode != Mode::Inotify) {
        m_source = CFanotifySource::Create(refused);
        if (!m_source)
            KvoCore::LogInfo(wxString::FromUTF8("real-time: fanotify is not available (" + refused +
                                                "); inotify watches instead"));
    }
    if (!m_source) m_source = CInotifySource::Create(error);
    if (!m_source) return false;
    m_kind = m_source->Kind();
    Publish();
    return true;
}

std::string CRealtimeEngine::Kind() const { return m_kind.load(); }

void CRealtimeEngine::Watch(const std::vector<std::string>& dirs, const std::vector<std::string>& extensions) {
    {
        std::lock_guard<std::mutex> guard(m_pendingLock);
        m_pending = CWatchList(dirs, extensions, std::string(m_dom.GetWorkdirWx().utf8_str()));
        m_pendingSet = true;
    }
    if (m_wakeFd >= 0) CRealtimePlatform::Wake(m_wakeFd);
}

bool CRealtimeEngine::Next(CRealtimeNotification& notification, unsigned int ms) {
    for (;;) {
        const unsigned int slice = std::min(ms, kNextSliceMs);
        if (m_queue.Pop(notification, slice)) return true;
        const CRunnable* caller = This();
        if (ms <= slice || m_dom.StopRequested() || ExitRequested() || (caller && caller->ExitRequested()))
            return false;
        ms -= slice;
    }
}

void CRealtimeEngine::Stop() {
    if (!ExitRequested()) requestExit();
    if (m_wakeFd >= 0) CRealtimePlatform::Wake(m_wakeFd);
    join();
}

void CRealtimeEngine::OnRun() {
    // Without it a filesystem mounted in a watched tree stays unwatched until a reload.
    const int mounts = CRealtimePlatform::OpenMountTable();
    if (mounts < 0) KvoCore::LogWarning("real-time: cannot follow mounts (/proc/self/mountinfo cannot be read)");
    while (!TestDestroy()) {
        int timeout = m_source->IdleTimeoutMs();
        if (timeout < 0 || timeout > kLongestWaitMs) timeout = kLongestWaitMs;
        if (m_missed > 0) timeout = std::min(timeout, kEpisodeQuietMs);
        bool mountsChanged = false;
        const bool readable = CRealtimePlatform::WaitReadable(m_source->Fd(), m_wakeFd, mounts, timeout, mountsChanged);
        CRealtimePlatform::DrainWake(m_wakeFd);
        ApplyWatchList();
        if (!m_source) break;  // neither source could watch
        if (mountsChanged) {
            m_source->MountsChanged(*this);
            Publish();
        }
        if (readable) {
            m_source->Read(*this);
        } else {
            m_source->Idle(*this);
            EndMissedEpisode();
        }
        m_cover.Follow(m_source->LeavesGaps(), m_scanRequest.Follow());
    }
    CRealtimePlatform::Close(mounts);
    EndMissedEpisode();
}

void CRealtimeEngine::ApplyWatchList() {
    CWatchList list;
    {
        std::lock_guard<std::mutex> guard(m_pendingLock);
        if (!m_pendingSet) return;
        list = m_pending;
        m_pendingSet = false;
    }
    std::string error;
    if (!m_source->Watch(list, error)) {
        KvoCore::LogWarning(wxString::FromUTF8("real-time: " + std::string(m_source->Kind()) + " cannot watch (" +
                                               error + "); inotify watches instead"));
        m_source = CInotifySource::Create(error);
        if (!m_source || !m_source->Watch(list, error)) {
            KvoCore::LogError(wxString::FromUTF8("real-time: inotify cannot watch either: " + error));
            m_source.reset();
            m_kind = "none";
            Publish();
            requestExit();
            return;
        }
        m_kind = m_source->Kind();
    }
    Publish();
}

void CRealtimeEngine::Deliver(CRealtimeNotification&& notification) {
    if (!m_queue.Push(std::move(notification))) {
        Missed(1, "the queue to the on-change object was full");
        return;
    }
    if (m_missed > 0 && m_queue.Size() == 1) EndMissedEpisode();
}

void CRealtimeEngine::Missed(long long count, const std::string& why) {
    if (m_missed == 0) {
        m_missedWhy = why;
        m_scanRequest.Ask();
    }
    m_missed += count;
}

// Asked again at the end, so that a scan started during the episode is
// followed by one that sees its last change.
void CRealtimeEngine::EndMissedEpisode() {
    if (m_missed == 0) return;
    m_scanRequest.Ask();
    KvoCore::LogWarning(wxString::Format(
        "real-time: %lld changes could not be reported one by one (%s); an incremental scan was requested",
        m_missed, wxString::FromUTF8(m_missedWhy)));
    m_deferred += m_missed;
    m_missed = 0;
    Publish();
}

void CRealtimeEngine::Publish() {
    m_dom.Set(AgentKeys::kRealtimeEngine, m_kind.load());
    m_dom.Set(AgentKeys::kRealtimeWatchedDirs, m_source ? m_source->WatchedDirs() : 0LL);
    m_dom.Set(AgentKeys::kRealtimeUnwatchedDirs, m_source ? m_source->UnwatchedDirs() : 0LL);
    m_dom.Set(AgentKeys::kRealtimeDeferred, m_deferred);
}

}  // namespace KvoAgent
