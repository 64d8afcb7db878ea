#include "tools/tcc-upload/RetryWait.h"

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
