// CEventFeed: the thread of `kvo-agent run` that shows the integrity events
// on stdout as they are recorded, one line each as `kvo-agent events` prints
// them. Events recorded before it started are not shown again.
#pragma once

#include <string>

#include "agent/EventTail.h"
#include "core/Dom.h"
#include "core/Runnable.h"

namespace KvoAgent {

class CEventFeed : public KvoCore::CRunnable {
public:
    CEventFeed(KvoCore::CDom& dom, const std::string& scriptDir);
    // Before start(): false with the reason in error when the events cannot be read.
    bool Open(std::string& error);
    void OnRun() override;

private:
    void Show();

    KvoCore::CDom m_dom;
    CEventTail m_tail;
    bool m_failing = false;      // says so once, not every second
    bool m_toldSkipped = false;  // likewise
};

}  // namespace KvoAgent
