// A millisecond deadline on a 32-bit tick count: see Timeout.h.
#include "retrieval/Timeout.h"

#include "retrieval/TickSource.h"

CTimeout::CTimeout(std::uint32_t dwPeriod, ITickSource* pTicks)
    : m_dwStart(0), m_dwDeadline(0), m_dwPeriod(dwPeriod), m_pTicks(pTicks != nullptr ? pTicks : SystemTickSource())
{
}

void CTimeout::Restart(std::uint32_t dwPeriod)
{
    std::uint32_t dwNow = m_pTicks->GetTicks();
    if (dwPeriod != 0)
        m_dwPeriod.store(dwPeriod, std::memory_order_release);
    m_dwStart.store(dwNow, std::memory_order_release);
    m_dwDeadline.store(dwNow + m_dwPeriod.load(std::memory_order_acquire), std::memory_order_release);
}

// Measured as time elapsed since the Restart, in unsigned arithmetic, so that
// a wait spanning the wrap of the tick count still lasts its full period:
// comparing now with the stored deadline would expire such a wait at once.
// The start is read on both sides of the clock reading: a Restart on another
// thread in between would pair a stale start with a fresh count (a wait that
// looks overdue) or a fresh start with a stale count (wrapping to almost
// 2^32), so the pair is taken again until it is consistent.
std::uint32_t CTimeout::Remaining() const
{
    std::uint32_t dwStart = m_dwStart.load(std::memory_order_acquire);
    std::uint32_t dwNow;
    for (;;) {
        dwNow = m_pTicks->GetTicks();
        std::uint32_t dwAgain = m_dwStart.load(std::memory_order_acquire);
        if (dwAgain == dwStart)
            break;
        dwStart = dwAgain;
    }
    std::uint32_t dwPeriod = m_dwPeriod.load(std::memory_order_acquire);
    std::uint32_t dwElapsed = dwNow - dwStart;
    return dwElapsed >= dwPeriod ? 0 : dwPeriod - dwElapsed;
}

int CTimeout::IsExpired() const { return Remaining() == 0 ? 1 : 0; }
