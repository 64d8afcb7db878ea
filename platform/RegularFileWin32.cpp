// The attributes alone: a folder or a device is not a file.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/RegularFile.h"

int IsRegularFile(const std::string& path)
{
    const DWORD dwAttributes = ::GetFileAttributesA(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    return (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 ? 1 : 0;
}
