// The step the POSIX replacing file shares with the headless backend's, which
// otherwise names and fails its files as Windows does.
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
