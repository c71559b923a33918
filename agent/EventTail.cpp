#include "agent/EventTail.h"

#include <algorithm>

#include "agent/ConfiguredRules.h"

namespace KvoAgent {

namespace {

// The query's own bound: a window never holds more.
const long long kMostPerPoll = 20000;
// Events are numbered as they are stored, their time taken a little before:
// one stored after the last seen may carry a slightly earlier time.
const long long kTimeSlackMs = 10000;

}  // namespace

CEventTail::CEventTail(const KvoCore::CDom& dom, std::string scriptDir, bool named)
    : m_dom(dom),
      m_query(dom, std::move(scriptDir)),
      m_jsonFile(std::string(dom.GetWorkdirWx().utf8_str()) + "/events.jsonl"),
      m_named(named) {}

bool CEventTail::Start(std::string& error) {
    // The newest event there is: a window of one.
    if (!m_query.Run(0, 0, 1, error)) return false;
    const std::vector<CChangeEvent>& newest = m_query.Events();
    StartAfter(newest.empty() ? 0 : newest.back().id, newest.empty() ? 0 : newest.back().timeMs);
    return true;
}

void CEventTail::StartAfter(long long eventId, long long eventTimeMs) {
    m_lastEventId = eventId;
    m_lastEventTimeMs = eventTimeMs;
    m_jsonOffset = m_jsonFile.Size();
}

bool CEventTail::Poll(std::vector<CChangeEvent>& fresh, std::string& error) {
    const long long from = m_lastEventTimeMs > kTimeSlackMs ? m_lastEventTimeMs - kTimeSlackMs : 0;
    if (!m_query.Run(m_lastEventId, from, kMostPerPoll, error)) return false;
    fresh = m_query.Events();
    if (static_cast<long long>(fresh.size()) == kMostPerPoll) m_passedOver = true;
    for (const CChangeEvent& event : fresh) m_lastEventTimeMs = std::max(m_lastEventTimeMs, event.timeMs);
    if (!fresh.empty()) m_lastEventId = fresh.back().id;
    if (!m_jsonFile.Read(m_jsonOffset, fresh, error)) return false;
    if (m_named && !fresh.empty()) Name(fresh);
    return true;
}

// Read again each time: a reloaded configuration may have renamed a rule.
void CEventTail::Name(std::vector<CChangeEvent>& events) const {
    const CConfiguredRules rules(m_dom);
    for (CChangeEvent& event : events) {
        const auto name = rules.Names().find(event.ruleId);
        event.ruleName = name != rules.Names().end() ? name->second : wxString::Format("rule %lld", event.ruleId);
    }
}

}  // namespace KvoAgent
