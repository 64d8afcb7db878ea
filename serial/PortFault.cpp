#include "serial/PortFault.h"

#include "platform/Win32Api.h"
#include "serial/PortName.h"

// An unknown code counts as a missing port: checking the cable, the adapter
// and the number is what a technician can do about it.
PortFault PortFaultFromError(std::uint32_t dwError, const PortNameRule& rule)
{
    switch (dwError) {
    case ERROR_SUCCESS: return PortFault::none;
    case ERROR_SHARING_VIOLATION: return PortFault::busy;
    case ERROR_ACCESS_DENIED: return rule.bDeniedMeansBusy ? PortFault::busy : PortFault::denied;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED: return PortFault::notSerial;
    default: return PortFault::notFound;
    }
}
