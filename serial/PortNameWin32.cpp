#include "serial/PortFault.h"
#include "serial/PortName.h"

// CreateFileA finds only COM1 to COM9 by their bare names; "COM10" and above
// (and any other device) must be named in the device namespace, \\.\COM10,
// which works for the low numbers too.
const PortNameRule& PlatformPortNameRule()
{
    static const PortNameRule rule{"\\\\.\\", true};
    return rule;
}

// Windows grants serial ports by no group.
std::string PortAccessGroup(const std::string&) { return std::string(); }
