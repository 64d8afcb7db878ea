// The millisecond tick count on POSIX systems: the steady clock, truncated to
// 32 bits so that it wraps like GetTickCount.
#include <chrono>

#include "platform/TickCount.h"

std::uint32_t TickCountNow()
{
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}
