// CSystemIntegrityThread: settings from the agent configuration, and the
// process-wide event mode they select.
#include <climits>

#include <atomic>

#include "core/Log.h"
#include "plugins/im/SystemIntegrityThread.h"

namespace KvoPluginIm {

namespace {

const char* const kAgentConfiguration = "/SecurityConfiguration/AgentConfiguration";

// Written by the control thread, read by scanners and query calls without a lock.
std::atomic<int> ScanningEventMode{0};

// Replaces value only when the attribute is present and is a whole decimal
// number from lowest to highest; a number out of range keeps the default,
// with a warning naming the setting (a negative CPU share or back-off would
// otherwise reach the thread base as a huge unsigned one).
void ReadNumber(const KvoCore::CDom& dom, const char* attribute, int& value, long lowest, long highest) {
    wxString text;
    long parsed = 0;
    if (!dom.ConfigGetAttribute(kAgentConfiguration, attribute, text) || !text.ToLong(&parsed, 10)) return;
    if (parsed < lowest || parsed > highest) {
        KvoCore::LogWarning(wxString::Format("Setting %s=%ld is out of range (%ld to %ld); using %d", attribute, parsed,
                                             lowest, highest, value));
        return;
    }
    value = static_cast<int>(parsed);
}

}  // namespace

int GetEventMode() {
    const int mode = ScanningEventMode.load(std::memory_order_relaxed);
    KVO_TRACE(CSystemIntegrityThread::s_Trace, "GetEventMode() returning %d", mode);
    return mode;
}

void CSystemIntegrityThread::UpdateSettingsFromConfig() {
    wxString text;
    m_bAllowOnChange = m_dom.ConfigGetAttribute(kAgentConfiguration, "systemIntegrityAllowOnChange", text) &&
                       text.utf8_string() == "true";

    const long kMost = INT_MAX;
    m_onChangeBackoffMin = 5000;
    ReadNumber(m_dom, "systemIntegrityOnchangeBackoffMinMS", m_onChangeBackoffMin, 0, kMost);
    m_onChangeBackoffMax = 30000;
    ReadNumber(m_dom, "systemIntegrityOnchangeBackoffMaxMS", m_onChangeBackoffMax, 0, kMost);
    m_freeMbMin = 5;
    ReadNumber(m_dom, "systemIntegrityFreeMbMin", m_freeMbMin, 0, kMost);
    m_cpuLimit = 100;
    ReadNumber(m_dom, "systemIntegrityCPULimit", m_cpuLimit, 1, 100);
    m_bIoPriorityIdle = m_dom.ConfigGetAttribute(kAgentConfiguration, "systemIntegrityIoPriorityIdle", text) &&
                        text.utf8_string() == "true";

    if (m_dom.ConfigGetAttribute(kAgentConfiguration, "systemIntegrityEventMode", text)) {
        KVO_TRACE(s_Trace, "UpdateSettingsFromConfig() ScanningEventMode wxVal=%s", text);
        wxLongLong_t number = 0;
        if (!text.ToLongLong(&number, 10)) number = 0;
        KVO_TRACE(s_Trace, "UpdateSettingsFromConfig() ScanningEventMode lVal=%lld", number);
        ScanningEventMode.store(number == 2 ? 2 : 1, std::memory_order_relaxed);
        KVO_TRACE(s_Trace, "UpdateSettingsFromConfig() set ScanningEventMode to %d",
                  ScanningEventMode.load(std::memory_order_relaxed));
    } else {
        ScanningEventMode.store(1, std::memory_order_relaxed);
        KVO_TRACE(s_Trace, "UpdateSettingsFromConfig() Could not find ScanningEventMode value, set to %d", 1);
    }

    wxString mapping;
    m_dom.ConfigGetAttribute(kAgentConfiguration, "contentShortHandMapping", mapping);
    m_contentShortHandMapping = mapping.empty() ? wxString("sha1") : mapping;
}

}  // namespace KvoPluginIm
