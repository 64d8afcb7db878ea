// The run log on Windows: appends through a handle opened for appending only,
// so each WriteFile lands at the end whole. A byte-range lock on runs.lock
// beside the log serialises the size check and the move between every
// writer of the folder, the window and tcc-upload.exe, in any session of the
// user (a scheduled task, a remote desktop), as a named mutex would not.
#include "platform/RunLog.h"

#include "platform/Win32Types.h"

#include <shlobj.h>

namespace {

constexpr ULONGLONG kLockWaitMs = 100;  // a writer holds it for one line
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

// The lock's handle, INVALID_HANDLE_VALUE without it. Reading is all a lock
// needs, so a read-only runs.lock serves as well.
HANDLE TakeLock(const std::string& path)
{
    HANDLE hLock =
        ::CreateFileA(LockPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hLock == INVALID_HANDLE_VALUE)
        return hLock;
    // Sleep rounds up to the timer's tick (15.6 ms by default): the clock,
    // not a count of polls, bounds the wait.
    const ULONGLONG qwGiveUp = ::GetTickCount64() + kLockWaitMs;
    for (;;) {
        OVERLAPPED at = {};
        if (::LockFileEx(hLock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return hLock;
        if (::GetLastError() != ERROR_LOCK_VIOLATION || ::GetTickCount64() >= qwGiveUp)
            break;
        ::Sleep(kLockPollMs);
    }
    ::CloseHandle(hLock);
    return INVALID_HANDLE_VALUE;
}

// Unlocked before the handle goes: a lock that only the close releases may
// be let go late, and the next writer would find it still held.
void ReleaseLock(HANDLE hLock)
{
    OVERLAPPED at = {};
    ::UnlockFileEx(hLock, 0, 1, 0, &at);
    ::CloseHandle(hLock);
}

// FILE_SHARE_DELETE: a log another process holds open can still be moved.
// Only a file on a disk is a log (not a pipe or a device in its place). Read
// too, where allowed, for the log's last byte.
HANDLE OpenLog(const std::string& path)
{
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE hFile = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, dwShare, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED)
        hFile = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, dwShare, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (hFile == INVALID_HANDLE_VALUE || ::GetFileType(hFile) == FILE_TYPE_DISK)
        return hFile;
    ::CloseHandle(hFile);
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return INVALID_HANDLE_VALUE;
}

// BOOL: the log is empty or its last line is whole. One cut short (a full
// disk, a crash) gets its end from the next line, so that each stays a line
// of its own. Unreadable: taken as whole.
BOOL EndsLine(HANDLE hFile)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(hFile, &size) || size.QuadPart == 0)
        return TRUE;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char cLast = '\n';
    DWORD dwRead = 0;
    if (!::ReadFile(hFile, &cLast, 1, &dwRead, &at) || dwRead != 1)
        return TRUE;
    return cLast == '\n';
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

DWORD Append(const std::string& path, const std::string& line, bool bLocked)
{
    if (bLocked)
        MoveIfFull(path);
    HANDLE hFile = OpenLog(path);
    if (hFile == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    const std::string text = (EndsLine(hFile) ? "" : "\n") + line + "\n";
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
    const DWORD dwError = Append(path, line, hLock != INVALID_HANDLE_VALUE);
    if (hLock != INVALID_HANDLE_VALUE)
        ReleaseLock(hLock);
    return dwError;
}
