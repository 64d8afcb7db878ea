// The line's own errors, as the serial driver saw them while a port was
// open: a cable with a poor ground or a wrong rate shows here long before a
// retrieval fails. Free of Win32 types, for the layers above serial/.
#pragma once

#include <cstdint>

struct LineErrorCounts {
    std::uint32_t dwParity = 0;
    std::uint32_t dwFraming = 0;
    std::uint32_t dwOverrun = 0;  // the UART's own, and the driver's input queue's
    std::uint32_t Total() const { return dwParity + dwFraming + dwOverrun; }
};
