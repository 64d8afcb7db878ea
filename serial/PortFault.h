// What the serial layer can say about a port that did not open, or about a
// line that went away: the operating system's error code, read once here so
// that the layers above never see a Win32 code.
#pragma once

#include <cstdint>
#include <string>

struct PortNameRule;

enum class PortFault {
    none,
    notFound,   // no such port, or its device is gone
    busy,       // another program holds it
    denied,     // the user may not open it
    notSerial,  // the name opens something that is not a serial port
    lost        // it opened, and the line went away later
};

// The fault an open that failed with dwError (GetLastError) stands for. The
// rule says what the platform's driver means by ERROR_ACCESS_DENIED.
PortFault PortFaultFromError(std::uint32_t dwError, const PortNameRule& rule);

// The group whose members may open the port's device ("dialout"), for a
// refused open on a POSIX system; empty where there is none to name.
std::string PortAccessGroup(const std::string& portName);
