#include "agent/EventFeed.h"

#include "agent/ChangeReport.h"
#include "core/Log.h"

namespace KvoAgent {

namespace {

const unsigned int kPollMs = 1000;

}  // namespace

CEventFeed::CEventFeed(KvoCore::CDom& dom, const std::string& scriptDir, bool json)
    : CRunnable("event-feed", &dom), m_dom(dom), m_tail(dom, scriptDir, true), m_json(json) {}

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
    const CChangeReport report(std::move(fresh), {});
    if (m_json)
        report.PrintJson(stdout);
    else
        report.PrintText(stdout);
    fflush(stdout);
}

}  // namespace KvoAgent
