#include "agent/EventTail.h"

#include "agent/ConfiguredRules.h"

namespace KvoAgent {

namespace {

// The query's own bound: a window never holds more.
const long long kMostPerPoll = 20000;

}  // namespace

CEventTail::CEventTail(const KvoCore::CDom& dom, std::string scriptDir, bool named)
    : m_dom(dom),
      m_query(dom, std::move(scriptDir)),
      m_jsonFile(std::string(dom.GetWorkdirWx().utf8_str()) + "/events.jsonl"),
      m_named(named) {}

bool CEventTail::Start(std::string& error) {
    // The newest event there is: a window of one.
    if (!m_query.Run(0, error, 1, false)) return false;
    StartAfter(m_query.Events().empty() ? 0 : m_query.Events().back().id, m_jsonFile.Size());
    return true;
}

void CEventTail::StartAfter(long long eventId, long long jsonOffset) {
    m_lastEventId = eventId;
    m_jsonOffset = jsonOffset;
}

bool CEventTail::Poll(std::vector<CChangeEvent>& fresh, std::string& error) {
    if (!m_query.Run(m_lastEventId, error, kMostPerPoll, false)) return false;
    fresh = m_query.Events();
    if (static_cast<long long>(fresh.size()) == kMostPerPoll) m_passedOver = true;
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
