#include "core/CpuBudget.h"

namespace KvoCore {
namespace {

// Long enough to smooth out uneven work steps, short enough that idle time
// earlier on does not buy a long burst at full speed.
const long long kWindowNs = 2000000000LL;

}  // namespace

CCpuBudget& CCpuBudget::Instance() {
    static CCpuBudget budget;
    return budget;
}

void CCpuBudget::Join(long long nowNs) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_members++ == 0) {
        m_windowStart = nowNs;
        m_spent = 0;
    }
}

long long CCpuBudget::Spend(long long spentNs, unsigned percent, long long nowNs) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_spent += spentNs;
    // The wall time that this much CPU needs to stay at the limit.
    const long long due = m_spent * 100 / percent;
    const long long elapsed = nowNs - m_windowStart;
    return due > elapsed ? due - elapsed : 0;
}

void CCpuBudget::Settle(unsigned percent, long long nowNs) {
    std::lock_guard<std::mutex> guard(m_lock);
    const long long elapsed = nowNs - m_windowStart;
    if (elapsed >= kWindowNs && m_spent * 100 / percent <= elapsed) {
        m_windowStart = nowNs;
        m_spent = 0;
    }
}

void CCpuBudget::Leave() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_members > 0) --m_members;
}

}  // namespace KvoCore
