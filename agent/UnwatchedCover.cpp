#include "agent/UnwatchedCover.h"

#include <algorithm>

#include "agent/PluginKeys.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

const std::chrono::milliseconds kShortestPause(10000);
const int kPauseFactor = 10;
// A scan that neither completes nor is followed by another within this long
// was not the one asked for: ask again.
const std::chrono::hours kLongestWait(1);

}  // namespace

CUnwatchedCover::CUnwatchedCover(KvoCore::CDom& dom) : m_dom(dom) {
    m_dom.ConditionRegister(PluginKeys::kScanCompleted);
    m_dom.ConditionRegister(PluginKeys::kScanInitiated);
}

void CUnwatchedCover::Follow(long long unwatched) {
    const Clock::time_point now = Clock::now();
    if (unwatched <= 0) {
        // A scan already asked for runs all the same; the next episode starts afresh.
        m_covering = false;
        m_state = State::Idle;
        return;
    }
    switch (m_state) {
        case State::Idle:
            if (!m_covering || now >= m_due) Ask();
            break;
        case State::Asked:
            // The plug-in clears the flag as it starts the scan; until then,
            // whatever completes is an earlier scan.
            if (Asking()) {
                m_completedBefore = Count(PluginKeys::kScanCompleted);
            } else {
                m_initiated = Count(PluginKeys::kScanInitiated);
                m_startedAt = now;
                m_state = State::Running;
            }
            break;
        case State::Running:
            if (Served()) {
                m_due = now + std::max<Clock::duration>(kShortestPause, (now - m_startedAt) * kPauseFactor);
                m_state = State::Idle;
            } else if (now - m_startedAt > kLongestWait) {
                Ask();
            }
            break;
    }
}

void CUnwatchedCover::Ask() {
    if (!m_covering) KvoCore::LogInfo("real-time: incremental scans cover the directories that are not watched");
    m_covering = true;
    m_completedBefore = Count(PluginKeys::kScanCompleted);
    m_dom.Set(PluginKeys::kNeedIncrementalScan, true);
    m_state = State::Asked;
}

bool CUnwatchedCover::Asking() const {
    bool asking = false;
    return m_dom.Get(PluginKeys::kNeedIncrementalScan, asking) && asking;
}

// Scans run one at a time: the one asked for is over once a scan completes,
// or once another starts (a scan begun just as the flag was set may have
// cleared it, and only incremental and baseline scans say they completed).
bool CUnwatchedCover::Served() const {
    return Count(PluginKeys::kScanCompleted) > m_completedBefore || Count(PluginKeys::kScanInitiated) > m_initiated;
}

long long CUnwatchedCover::Count(const char* condition) const {
    long long count = 0;
    m_dom.ConditionQuery(condition, count);
    return count;
}

}  // namespace KvoAgent
