#include "tools/tcc-upload/RetryWait.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

class CSystemWaitClock : public IWaitClock {
public:
    std::uint64_t NowMs() override
    {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    void SleepMs(std::uint32_t dwMs) override { std::this_thread::sleep_for(std::chrono::milliseconds(dwMs)); }
};

}  // namespace

CRetryWait::CRetryWait(std::uint64_t qwNowMs, std::uint32_t dwWaitMs)
    : m_dwWaitMs(dwWaitMs), m_qwPauseEnd(qwNowMs + dwWaitMs)
{
}

// The port's wait counts from the moment the pause is seen over, so a poll
// that comes late shortens neither.
RetryWaitEnd CRetryWait::Step(std::uint64_t qwNowMs, const std::function<int()>& portPresent)
{
    if (m_qwPortEnd == 0) {
        if (qwNowMs < m_qwPauseEnd)
            return RETRY_WAITING;
        m_qwPortEnd = qwNowMs + m_dwWaitMs;
    }
    if (portPresent())
        return RETRY_PORT_PRESENT;
    return qwNowMs >= m_qwPortEnd ? RETRY_PORT_MISSING : RETRY_WAITING;
}

std::uint32_t CRetryWait::MsToNextStep(std::uint64_t qwNowMs) const
{
    const std::uint64_t qwEnd = m_qwPortEnd == 0 ? m_qwPauseEnd : m_qwPortEnd;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(kRetryPollMs, qwEnd > qwNowMs ? qwEnd - qwNowMs : 0));
}

IWaitClock& SystemWaitClock()
{
    static CSystemWaitClock clock;
    return clock;
}

RetryWaitEnd WaitBeforeRetry(const RetryWait& wait, const std::string& port)
{
    IWaitClock& clock = wait.pClock ? *wait.pClock : SystemWaitClock();
    CRetryWait state(clock.NowMs(), wait.dwWaitMs);
    const auto present = [&] { return wait.portPresent(port); };
    for (;;) {
        if (wait.interrupted())
            return RETRY_INTERRUPTED;
        const RetryWaitEnd nEnd = state.Step(clock.NowMs(), present);
        if (nEnd != RETRY_WAITING)
            return nEnd;
        clock.SleepMs(state.MsToNextStep(clock.NowMs()));
    }
}
