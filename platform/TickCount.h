// The system's millisecond tick count.
#pragma once

#include <cstdint>

// 32 bits wide, wrapping modulo 2^32: GetTickCount on Windows, the steady
// clock elsewhere (one source file per platform, picked by the build).
std::uint32_t TickCountNow();
