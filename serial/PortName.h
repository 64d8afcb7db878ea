// How a port name as the user typed it ("COM1", "COM12") becomes the path the
// platform's CreateFileA opens, and what the platform's driver means by its
// answers. The rule is data, one small file per platform supplies it, so the
// logic stays free of #ifdefs and is tested everywhere.
#pragma once

#include <string>

struct PortNameRule {
    // Put in front of a bare name (one without '\\', '/' or ':'); empty or
    // null leaves every name unchanged.
    const char* pszBareNamePrefix;
    // Windows' serial drivers refuse a port that another program holds with
    // ERROR_ACCESS_DENIED; the POSIX driver answers that with
    // ERROR_SHARING_VIOLATION and keeps ERROR_ACCESS_DENIED for permissions.
    bool bDeniedMeansBusy;
};

std::string PortDevicePath(const std::string& name, const PortNameRule& rule);

// The running platform's rule (PortNameWin32.cpp or PortNamePosix.cpp).
const PortNameRule& PlatformPortNameRule();
