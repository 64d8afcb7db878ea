#include "serial/PortFault.h"
#include "serial/PortName.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

// The POSIX driver maps names itself ("COM1" or a device path): pass them on.
const PortNameRule& PlatformPortNameRule()
{
    static const PortNameRule rule{"", false};
    return rule;
}

// Serial devices are opened through their group's rw permission ("dialout"
// on Debian): naming it tells the administrator what to grant. A device its
// group may not open has no such group to name.
std::string PortAccessGroup(const std::string& portName)
{
    struct stat st {};
    if (stat(portName.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return std::string();
    long nSize = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(nSize > 0 ? static_cast<std::size_t>(nSize) : 4096);
    group entry{};
    group* pFound = nullptr;
    if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &pFound) != 0 || pFound == nullptr)
        return std::string();
    return pFound->gr_name;
}
