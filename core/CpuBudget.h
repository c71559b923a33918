// CCpuBudget: the CPU limit of the agent's threads is one budget for the
// whole process. Every thread held to a limit (CRunnable::SetCPULimit) spends
// its CPU time, and that of the helpers it counts, from one accounting
// window, so two scanners running at once under a 20 % limit use 20 %
// together, not 40 %.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <mutex>

namespace KvoCore {

class CCpuBudget {
public:
    static CCpuBudget& Instance();

    // A limited thread starts spending; the window opens with the first one.
    void Join(long long nowNs);
    // Adds spentNs to the window; returns how long the caller must sleep (ns)
    // for the window's total to be back at percent of its wall time.
    long long Spend(long long spentNs, unsigned percent, long long nowNs);
    // A new window once the old one has lasted long enough and its debt is
    // paid, so that the share holds across windows.
    void Settle(unsigned percent, long long nowNs);
    // A limited thread ended; with the last one the window closes and its
    // debt is forgiven (no later thread pays for an earlier one).
    void Leave();

private:
    std::mutex m_lock;
    int m_members = 0;
    long long m_windowStart = 0;
    long long m_spent = 0;
};

}  // namespace KvoCore
