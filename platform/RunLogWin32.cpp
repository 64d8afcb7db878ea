// The run log on Windows: appends through a handle opened for appending only,
// so each WriteFile lands at the end whole. A byte-range lock on runs.lock
// beside the log serialises the size check and the move between every
// writer of the folder, the window and tcc-upload.exe, in any session of the
// user (a scheduled task, a remote desktop), as a named mutex would not.
#include "platform/RunLog.h"

#include "platform/Win32Types.h"

#include <shlobj.h>

namespace {

constexpr int kLockPolls = 50;  // of 2 ms: a writer holds it for one line
constexpr DWORD kLockPollMs = 2;

// Each missing folder above the log; what cannot be made (a drive, a
// share's root) is left for the open to report.
void MakeFolders(const std::string& path)
{
    for (std::size_t nSep = path.find_first_of("\\/", 1); nSep != std::string::npos;
         nSep = path.find_first_of("\\/", nSep + 1))
        ::CreateDirectoryA(path.substr(0, nSep).c_str(), nullptr);
}

std::string LockPath(const std::string& path)
{
    const std::size_t nSep = path.find_last_of("\\/");
    return (nSep == std::string::npos ? std::string() : path.substr(0, nSep + 1)) + "runs.lock";
}

// The lock's handle, INVALID_HANDLE_VALUE without it; it goes with the handle.
HANDLE TakeLock(const std::string& path)
{
    HANDLE hLock = ::CreateFileA(LockPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hLock == INVALID_HANDLE_VALUE)
        return hLock;
    for (int nPoll = 0; nPoll < kLockPolls; ++nPoll) {
        OVERLAPPED at = {};
        if (::LockFileEx(hLock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return hLock;
        ::Sleep(kLockPollMs);
    }
    ::CloseHandle(hLock);
    return INVALID_HANDLE_VALUE;
}

// FILE_SHARE_DELETE: a log another process holds open can still be moved.
// Only a file on a disk is a log (not a pipe or a device in its place).
HANDLE OpenLog(const std::string& path)
{
    HANDLE hFile = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE || ::GetFileType(hFile) == FILE_TYPE_DISK)
        return hFile;
    ::CloseHandle(hFile);
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return INVALID_HANDLE_VALUE;
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

// A line cut short (a full disk) still gets its end, so that the next run's
// line starts a line of its own.
DWORD Append(const std::string& path, const std::string& text, bool bLocked)
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
    if (dwError != 0 && dwDone != 0)
        ::WriteFile(hFile, "\n", 1, &dwDone, nullptr);
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

// Every writer closes the log before it lets the lock go, so no line can
// follow a log into its older generation after the move.
unsigned long AppendRunLogLine(const std::string& path, const std::string& line, RunLogOpenedHook pfnOpened,
                               void* pContext)
{
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    MakeFolders(path);
    if (pfnOpened != nullptr)
        pfnOpened(pContext);
    HANDLE hLock = TakeLock(path);
    const DWORD dwError = Append(path, line + "\n", hLock != INVALID_HANDLE_VALUE);
    if (hLock != INVALID_HANDLE_VALUE)
        ::CloseHandle(hLock);  // and the lock with it
    return dwError;
}
