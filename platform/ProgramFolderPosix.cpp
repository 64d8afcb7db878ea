// The program's folder on Linux: where /proc/self/exe points.
#include <unistd.h>

#include <vector>

#include "platform/ProgramFolder.h"

std::string ProgramFolder()
{
    std::vector<char> szPath(4096);
    const ssize_t n = readlink("/proc/self/exe", szPath.data(), szPath.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= szPath.size())
        return std::string();
    const std::string path(szPath.data(), static_cast<std::size_t>(n));
    const std::size_t nSlash = path.rfind('/');
    return nSlash == std::string::npos ? std::string() : path.substr(0, nSlash + 1);
}
