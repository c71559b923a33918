#include "agent/EventFeed.h"

#include "agent/ChangeReport.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

const unsigned int kPollMs = 1000;

}  // namespace

CEventFeed::CEventFeed(KvoCore::CDom& dom, const std::string& scriptDir)
    : CRunnable("event-feed", &dom), m_dom(dom), m_tail(dom, scriptDir, true) {}

bool CEventFeed::Open(std::string& error) { return m_tail.Start(error); }

void CEventFeed::OnRun() {
    while (!TestDestroy(kPollMs, nullptr)) Show();
    // What the last moments recorded.
    Show();
}

void CEventFeed::Show() {
    std::vector<CChangeEvent> fresh;
    std::string error;
    if (!m_tail.Poll(fresh, error)) {
        if (!m_failing) KvoCore::LogWarning(wxString::FromUTF8("the integrity events cannot be read: " + error));
        m_failing = true;
        return;
    }
    m_failing = false;
    CChangeReport(std::move(fresh), {}).PrintText(stdout);
    if (m_tail.PassedOver() && !m_toldSkipped) {
        m_toldSkipped = true;
        printf("(more events came at once than could be shown here; kvo-agent events lists them all)\n");
    }
    fflush(stdout);
}

}  // namespace KvoAgent
