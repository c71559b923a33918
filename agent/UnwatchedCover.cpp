#include "agent/UnwatchedCover.h"

#include <algorithm>

#include "core/Log.h"

namespace KvoAgent {

namespace {

const long long kShortestPauseMs = 10000;
const int kPauseFactor = 10;

}  // namespace

void CUnwatchedCover::Follow(bool gaps, long long served) {
    if (!gaps) {
        // A scan already asked for runs all the same; the next gap starts afresh.
        m_covering = false;
        m_waiting = false;
        return;
    }
    if (m_waiting) {
        if (served < 0) return;
        m_due = Clock::now() + std::chrono::milliseconds(std::max(kShortestPauseMs, served * kPauseFactor));
        m_waiting = false;
    }
    if (m_covering && Clock::now() < m_due) return;
    if (!m_covering) KvoCore::LogInfo("real-time: incremental scans cover what is not watched");
    m_covering = true;
    m_waiting = true;
    m_request.Ask();
}

}  // namespace KvoAgent
