// A millisecond deadline on a 32-bit tick count.
//
// Restart and Remaining may run on different threads (the uploader's worker
// restarts after posting a request, the link's worker after each accepted
// reply), so each word is an atomic written with release and read with
// acquire order.
#pragma once

#include <atomic>
#include <cstdint>

class ITickSource;

class CTimeout {
public:
    // pTicks null: the system clock.
    explicit CTimeout(std::uint32_t dwPeriod, ITickSource* pTicks = nullptr);

    // Starts a new wait from now; a non-zero dwPeriod replaces the period.
    void Restart(std::uint32_t dwPeriod);

    // Milliseconds left, 0 once the period has passed since the Restart.
    std::uint32_t Remaining() const;

    // BOOL: non-zero when Remaining() is 0.
    int IsExpired() const;

private:
    std::atomic<std::uint32_t> m_dwStart;
    // The deadline as last set; Remaining() measures from m_dwStart, which survives the wrap.
    std::atomic<std::uint32_t> m_dwDeadline;
    std::atomic<std::uint32_t> m_dwPeriod;
    ITickSource* m_pTicks;
};
