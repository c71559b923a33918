// CDiskSpaceWatch: the control loop's watch over the free space of the file
// system that holds the plug-in's working directory. It measures at most every
// 30 s (32-bit millisecond ticks, injected so that the rule can be checked
// without waiting) and tells when scanning must be suspended or may resume.
//
// The low-disk warning is given once per minimum value: warnedMb, which the
// owner keeps for the whole process, holds the minimum last warned of, so a
// restart of the loop with the same minimum stays quiet.
//
// Belongs to the control thread.
#pragma once

#include <functional>

#include <wx/string.h>

namespace KvoPluginIm {

class CDiskSpaceWatch {
public:
    // Free bytes of the file system holding path; false when it cannot be told.
    using Probe = std::function<bool(const wxString& path, unsigned long long& freeBytes)>;

    enum class Outcome {
        NotMeasured,  // measured less than 30 s ago
        Unknown,      // the probe failed
        Enough,
        Recovered,    // back above the minimum after a low period: resume scanning
        BecameLow,    // below the minimum: suspend scanning
        StillLow,
    };
    struct Result {
        Outcome outcome;
        unsigned long freeMb;
        bool warn;  // with BecameLow: give the low-disk warning
    };

    // The first Check measures at once.
    CDiskSpaceWatch(unsigned int now, int& warnedMb);
    CDiskSpaceWatch(const CDiskSpaceWatch&) = delete;
    CDiskSpaceWatch& operator=(const CDiskSpaceWatch&) = delete;

    Result Check(unsigned int now, const wxString& dir, int minimumMb, const Probe& probe);
    bool IsLow() const { return m_low; }
    // Forgets a low state without measuring.
    void Resume() { m_low = false; }
    // The next Check measures whenever it comes (a write just failed).
    void CheckSoon() { m_soon = true; }

    static const unsigned int s_CheckIntervalMs = 30000;

private:
    Result Measure(unsigned int now, const wxString& dir, int minimumMb, const Probe& probe);

    unsigned int m_lastCheck;
    bool m_low = false;
    bool m_soon = false;
    int& m_warnedMb;
};

}  // namespace KvoPluginIm
