// The run log on Windows: appends through a handle opened for appending only,
// so each WriteFile lands at the end whole; a named mutex, one per user
// session, serialises the size check and the move between the window and
// tcc-upload.exe.
#include "platform/RunLog.h"

#include "platform/Win32Types.h"

#include <shlobj.h>

namespace {

constexpr DWORD kLockWaitMs = 200;  // a writer holds it for one line
const char kLockName[] = "Local\\TandrelConfigurationController.RunLog";

// Each missing folder above the log; what cannot be made (a drive, a
// share's root) is left for the open to report.
void MakeFolders(const std::string& path)
{
    for (std::size_t nSep = path.find_first_of("\\/", 1); nSep != std::string::npos;
         nSep = path.find_first_of("\\/", nSep + 1))
        ::CreateDirectoryA(path.substr(0, nSep).c_str(), nullptr);
}

// FILE_SHARE_DELETE: a log another process holds open can still be moved.
HANDLE OpenLog(const std::string& path)
{
    return ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void MoveIfFull(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return;
    const std::uint64_t qwSize = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (qwSize >= kRunLogLimit)
        ::MoveFileExA(path.c_str(), RunLogOlderPath(path).c_str(), MOVEFILE_REPLACE_EXISTING);
}

DWORD AppendLocked(const std::string& path, const std::string& text, bool bLocked)
{
    if (bLocked)
        MoveIfFull(path);
    HANDLE hFile = OpenLog(path);
    if (hFile == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    DWORD dwDone = 0;
    DWORD dwError = 0;
    if (!::WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &dwDone, nullptr))
        dwError = ::GetLastError();
    else if (dwDone != text.size())
        dwError = ERROR_DISK_FULL;
    ::CloseHandle(hFile);
    return dwError;
}

}  // namespace

std::string RunLogPath()
{
    char szLocal[MAX_PATH];
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szLocal)))
        return std::string();
    return std::string(szLocal) + "\\TandrelConfigurationController\\runs.jsonl";
}

// Every writer closes its handle before it lets the mutex go, so no line
// can follow a log into its older generation after the move.
unsigned long AppendRunLogLine(const std::string& path, const std::string& line)
{
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    MakeFolders(path);
    HANDLE hLock = ::CreateMutexA(nullptr, FALSE, kLockName);
    const DWORD dwWait = hLock ? ::WaitForSingleObject(hLock, kLockWaitMs) : WAIT_FAILED;
    const bool bLocked = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
    const DWORD dwError = AppendLocked(path, line + "\n", bLocked);
    if (bLocked)
        ::ReleaseMutex(hLock);
    if (hLock)
        ::CloseHandle(hLock);
    return dwError;
}
