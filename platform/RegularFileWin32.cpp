// The attributes alone: a folder or a device is not a file. A link's own
// attributes say nothing of what it names, so a link is opened (for its
// attributes only) to reach its target, as stat follows links.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/RegularFile.h"

namespace {

PathKind KindOfMissing(DWORD dwError)
{
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND ? PATH_MISSING : PATH_OTHER;
}

PathKind KindOfLinkTarget(const std::string& path)
{
    HANDLE hTarget =
        ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hTarget == INVALID_HANDLE_VALUE)
        return KindOfMissing(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info = {};
    const BOOL bFile = ::GetFileType(hTarget) == FILE_TYPE_DISK && ::GetFileInformationByHandle(hTarget, &info) &&
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    ::CloseHandle(hTarget);
    return bFile ? PATH_REGULAR : PATH_OTHER;
}

}  // namespace

PathKind KindOfPath(const std::string& path)
{
    const DWORD dwAttributes = ::GetFileAttributesA(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return KindOfMissing(::GetLastError());
    if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return KindOfLinkTarget(path);
    return (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 ? PATH_REGULAR : PATH_OTHER;
}
