// The waits of --retries: a pause between attempts, then, for a port that is
// not there, a wait for it to come back (a USB adapter re-enumerating after a
// replug keeps its name). Time and the checks are passed in, so tests run the
// waits on a clock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

enum RetryWaitEnd {
    RETRY_WAITING,       // CRetryWait only: not over yet
    RETRY_PORT_PRESENT,  // the port is there: try it
    RETRY_PORT_MISSING,  // waited for the port in vain; the attempt says why
    RETRY_INTERRUPTED
};

// Both waits as a state that a loop polling several runs drives without
// blocking: Step on each poll until it returns other than RETRY_WAITING.
class CRetryWait {
public:
    CRetryWait(std::uint64_t qwNowMs, std::uint32_t dwWaitMs);
    // portPresent (BOOL) is asked only once the pause is over.
    RetryWaitEnd Step(std::uint64_t qwNowMs, const std::function<int()>& portPresent);
    // How long the caller may sleep before the next Step.
    std::uint32_t MsToNextStep(std::uint64_t qwNowMs) const;

private:
    std::uint32_t m_dwWaitMs;
    std::uint64_t m_qwPauseEnd;
    std::uint64_t m_qwPortEnd = 0;  // 0: still in the pause
};

// The time source of the blocking wait; tests pass one whose Sleep only moves
// Now on.
class IWaitClock {
public:
    virtual ~IWaitClock() = default;
    virtual std::uint64_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t dwMs) = 0;
};

// The steady clock and a real sleep.
IWaitClock& SystemWaitClock();

struct RetryWait {
    std::uint32_t dwWaitMs = 2000;                       // the pause, and the longest wait for the port
    IWaitClock* pClock = nullptr;                        // null: SystemWaitClock
    std::function<int()> interrupted;                    // BOOL: stop waiting
    std::function<int(const std::string&)> portPresent;  // BOOL
};

// Before an attempt after the first, for a single run: the pause, then up to
// as long again for a missing port. Looks every kRetryPollMs, so Ctrl-C ends
// it at once.
constexpr std::uint32_t kRetryPollMs = 100;
RetryWaitEnd WaitBeforeRetry(const RetryWait& wait, const std::string& port);
