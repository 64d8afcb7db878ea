#include "serial/PortName.h"

std::string PortDevicePath(const std::string& name, const PortNameRule& rule)
{
    const bool bBare = name.find_first_of("\\/:") == std::string::npos;
    if (!bBare || !rule.pszBareNamePrefix)
        return name;
    return rule.pszBareNamePrefix + name;
}
