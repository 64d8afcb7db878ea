// A millisecond deadline on a 32-bit tick count: see Timeout.h.
#include "retrieval/Timeout.h"

#include "retrieval/TickSource.h"

CTimeout::CTimeout(std::uint32_t dwPeriod, ITickSource* pTicks)
    : m_dwStart(0), m_dwDeadline(0), m_dwPeriod(dwPeriod),
      m_pTicks(pTicks != nullptr ? pTicks : SystemTickSource())
{
}

void CTimeout::Restart(std::uint32_t dwPeriod)
{
    std::uint32_t dwNow = m_pTicks->GetTicks();
    if (dwPeriod != 0)
        m_dwPeriod.store(dwPeriod, std::memory_order_release);
    m_dwStart.store(dwNow, std::memory_order_release);
    m_dwDeadline.store(dwNow + m_dwPeriod.load(std::memory_order_acquire),
                       std::memory_order_release);
}

// Measured as time elapsed since the Restart, in unsigned arithmetic, so that
// a wait spanning the wrap of the tick count still lasts its full period:
// comparing now with the stored deadline would expire such a wait at once.
// The start is read before the clock: a Restart on another thread in between
// then only makes the wait look older, never a count "before" its start,
// which would wrap to an elapsed time of almost 2^32.
std::uint32_t CTimeout::Remaining() const
{
    std::uint32_t dwStart = m_dwStart.load(std::memory_order_acquire);
    std::uint32_t dwPeriod = m_dwPeriod.load(std::memory_order_acquire);
    std::uint32_t dwElapsed = m_pTicks->GetTicks() - dwStart;
    return dwElapsed >= dwPeriod ? 0 : dwPeriod - dwElapsed;
}

int CTimeout::IsExpired() const
{
    return Remaining() == 0 ? 1 : 0;
}
