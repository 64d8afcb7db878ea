// What the POSIX replacing file and the window tests' double of it, which
// otherwise behaves as Windows does, do alike.
#pragma once

#include <cstdint>
#include <string>

#include <unistd.h>

// Closes the new file if it is open and removes it if it has a name; harmless
// when neither.
inline void DiscardNewFile(std::intptr_t& hFile, std::string& strTemp)
{
    if (hFile >= 0)
        close(static_cast<int>(hFile));
    hFile = -1;
    if (!strTemp.empty())
        unlink(strTemp.c_str());
    strTemp.clear();
}
