// The attributes alone: a folder or a device is not a file.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/RegularFile.h"

PathKind KindOfPath(const std::string& path)
{
    const DWORD dwAttributes = ::GetFileAttributesA(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD dwError = ::GetLastError();
        return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? PATH_MISSING : PATH_OTHER;
    }
    return (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 ? PATH_REGULAR : PATH_OTHER;
}
