// CStartCheck: `run` checks at its start what changed while no agent ran.
// Real-time changes that a stopped agent left in si.db go first: the check
// would report them too, but without who made them.
#pragma once

#include <wx/string.h>

namespace KvoCore {
class CDom;
}

namespace KvoAgent {

class CStartCheck {
public:
    explicit CStartCheck(KvoCore::CDom& dom) : m_dom(dom) {}
    // Before the agent's threads start.
    void Begin(const wxString& dbPath);
    // From the host's loop: true when it has just asked for the check (the
    // control thread is to be woken).
    bool Poll();

private:
    long long PendingRealtimeChanges(const wxString& dbPath);
    long long ScansCompleted();

    KvoCore::CDom& m_dom;
    bool m_waiting = false;
    long long m_completedAtStart = 0;
};

}  // namespace KvoAgent
