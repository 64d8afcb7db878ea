#include "serial/PortName.h"

// The POSIX driver maps names itself ("COM1" or a device path): pass them on.
const PortNameRule& PlatformPortNameRule()
{
    static const PortNameRule rule{""};
    return rule;
}
