// The program's folder on Windows: its module path up to the last separator.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <vector>

#include "platform/ProgramFolder.h"

std::string ProgramFolder()
{
    // The path is cut off, not refused, when the buffer is too small: grow it
    // until it fits, up to the longest path Windows has.
    for (DWORD cch = MAX_PATH; cch <= 32768; cch *= 2) {
        std::vector<char> szPath(cch);
        const DWORD n = ::GetModuleFileNameA(nullptr, szPath.data(), cch);
        if (n == 0)
            return std::string();
        if (n < cch) {
            const std::string path(szPath.data(), n);
            const std::size_t nSlash = path.find_last_of("\\/");
            return nSlash == std::string::npos ? std::string() : path.substr(0, nSlash + 1);
        }
    }
    return std::string();
}
