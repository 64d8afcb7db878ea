// The waits of --retries: a pause between attempts, then, for a port that is
// not there, a wait for it to come back (a USB adapter re-enumerating after a
// replug keeps its name). Time and the port check are passed in, so tests run
// the waits on a clock of their own.
#pragma once

#include <cstdint>
#include <functional>

enum RetryWaitEnd {
    RETRY_WAITING,       // not over yet
    RETRY_PORT_PRESENT,  // the port is there: try it
    RETRY_PORT_MISSING   // waited for the port in vain; the attempt says why
};

// Both waits as a state that a loop polling several runs drives without
// blocking: Step on each poll until it returns other than RETRY_WAITING.
class CRetryWait {
public:
    CRetryWait(std::uint64_t qwNowMs, std::uint32_t dwWaitMs);
    // portPresent (BOOL) is asked only once the pause is over.
    RetryWaitEnd Step(std::uint64_t qwNowMs, const std::function<int()>& portPresent);

private:
    std::uint32_t m_dwWaitMs;
    std::uint64_t m_qwPauseEnd;
    std::uint64_t m_qwPortEnd = 0;  // 0: still in the pause
};
