// The waits of --retries: a pause between attempts, then, for a port that is
// not there, a wait for it to come back (a USB adapter re-enumerating after a
// replug keeps its name). Time and the checks are passed in, so tests run the
// waits on a clock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The time source of the waits; tests pass one whose Sleep only moves Now on.
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

enum RetryWaitEnd {
    RETRY_PORT_PRESENT,  // the port is there: try it
    RETRY_PORT_MISSING,  // waited for the port in vain; the attempt says why
    RETRY_INTERRUPTED
};

// Before an attempt after the first: the pause, then up to as long again for
// a missing port. Checks every kRetryPollMs, so Ctrl-C ends it at once.
constexpr std::uint32_t kRetryPollMs = 100;
RetryWaitEnd WaitBeforeRetry(const RetryWait& wait, const std::string& port);
