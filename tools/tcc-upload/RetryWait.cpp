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

// Sleeps in slices until dwMs have passed or done() holds; returns done().
// The clock, not the count of slices, decides: a sleep may run long.
template <typename Done>
bool WaitUntil(IWaitClock& clock, std::uint32_t dwMs, Done done)
{
    const std::uint64_t qwEnd = clock.NowMs() + dwMs;
    for (;;) {
        if (done())
            return true;
        const std::uint64_t qwNow = clock.NowMs();
        if (qwNow >= qwEnd)
            return false;
        clock.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kRetryPollMs, qwEnd - qwNow)));
    }
}

}  // namespace

IWaitClock& SystemWaitClock()
{
    static CSystemWaitClock clock;
    return clock;
}

RetryWaitEnd WaitBeforeRetry(const RetryWait& wait, const std::string& port)
{
    IWaitClock& clock = wait.pClock ? *wait.pClock : SystemWaitClock();
    if (WaitUntil(clock, wait.dwWaitMs, [&] { return wait.interrupted() != 0; }))
        return RETRY_INTERRUPTED;
    bool bPresent = false;
    const auto done = [&] {
        bPresent = wait.portPresent(port) != 0;
        return bPresent || wait.interrupted() != 0;
    };
    if (WaitUntil(clock, wait.dwWaitMs, done) && !bPresent)
        return RETRY_INTERRUPTED;
    return bPresent ? RETRY_PORT_PRESENT : RETRY_PORT_MISSING;
}
