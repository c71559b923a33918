#include "plugins/im/DiskSpaceWatch.h"

namespace KvoPluginIm {

CDiskSpaceWatch::CDiskSpaceWatch(unsigned int now, int& warnedMb)
    : m_lastCheck(now - s_CheckIntervalMs), m_warnedMb(warnedMb) {}

CDiskSpaceWatch::Result CDiskSpaceWatch::Check(unsigned int now, const wxString& dir, int minimumMb,
                                               const Probe& probe) {
    if (!m_soon && now - m_lastCheck < s_CheckIntervalMs) return {Outcome::NotMeasured, 0, false};
    m_soon = false;
    return Measure(now, dir, minimumMb, probe);
}

CDiskSpaceWatch::Result CDiskSpaceWatch::Measure(unsigned int now, const wxString& dir, int minimumMb,
                                                 const Probe& probe) {
    unsigned long long freeBytes = 0;
    if (!probe(dir, freeBytes)) {
        m_lastCheck = now;
        return {Outcome::Unknown, 0, false};
    }
    const unsigned long freeMb = static_cast<unsigned long>(freeBytes >> 20);
    // Signed: a negative minimum (written so in the configuration) is always met.
    if (static_cast<long long>(freeMb) >= minimumMb) {
        const bool wasLow = m_low;
        m_low = false;
        m_lastCheck = now;
        return {wasLow ? Outcome::Recovered : Outcome::Enough, freeMb, false};
    }
    // While low, nothing changes and the next iteration measures again.
    if (m_low) return {Outcome::StillLow, freeMb, false};
    const bool warn = m_warnedMb != minimumMb;
    if (warn) m_warnedMb = minimumMb;
    m_low = true;
    m_lastCheck = now;
    return {Outcome::BecameLow, freeMb, warn};
}

}  // namespace KvoPluginIm
