#include "agent/EventTail.h"

#include <algorithm>

#include "agent/ConfiguredRules.h"

namespace KvoAgent {

namespace {

// The newest events one look reads at first. A look that finds every one of
// them new reads again with twice as many, up to a bound: a burst is read
// whole up to it, while the rows held at once stay few when events come at the
// pace the looks keep. Each event held costs about 1 KB while it is read, so
// the bound is what keeps a check of a tree with tens of thousands of changes
// within the memory of an unchanged one (a burst of 25,000 creates held
// 20,000 events, 60 MB, where 4,000 hold 40 MB); the rest is passed over and
// the user is told to list them.
const long long kFirstWindow = 250;
const long long kMostPerPoll = 4000;

}  // namespace

CEventTail::CEventTail(const KvoCore::CDom& dom, std::string scriptDir, bool named)
    : m_dom(dom),
      m_query(dom, std::move(scriptDir)),
      m_jsonFile(std::string(dom.GetWorkdirWx().utf8_str()) + "/events.jsonl"),
      m_named(named) {}

bool CEventTail::Start(std::string& error) {
    // The newest event there is: a window of one.
    if (!m_query.Run(0, 1, error)) return false;
    const std::vector<CChangeEvent>& newest = m_query.Events();
    StartAfter(newest.empty() ? 0 : newest.back().id);
    return true;
}

void CEventTail::StartAfter(long long eventId) {
    m_lastEventId = eventId;
    m_jsonOffset = m_jsonFile.Size();
}

bool CEventTail::Poll(std::vector<CChangeEvent>& fresh, std::string& error) {
    long long window = kFirstWindow;
    for (;;) {
        if (!m_query.Run(m_lastEventId, window, error)) return false;
        const long long rows = m_query.WindowRows();
        const bool allNew = rows == window && static_cast<long long>(m_query.Events().size()) == rows;
        if (!allNew || window == kMostPerPoll) break;
        window = std::min(window * 2, kMostPerPoll);
    }
    fresh = m_query.TakeEvents();
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
