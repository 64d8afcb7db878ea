// The millisecond tick count on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/TickCount.h"

std::uint32_t TickCountNow() { return static_cast<std::uint32_t>(GetTickCount()); }
