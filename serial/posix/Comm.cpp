// The Win32 serial calls on POSIX: termios for the line settings, poll for the
// waits. An overlapped WaitCommEvent is served on the thread that calls
// GetOverlappedResult for it, or by the port's waiter thread when its event
// is waited on instead.
//
// Reads and writes run on the caller's thread and complete synchronously
// (TRUE, OVERLAPPED completed), bounded by the port's time-outs. Only the
// event wait is really asynchronous.
//
// A line that has gone away (the other side of a pty closed, a USB adapter
// unplugged: POLLHUP, POLLERR, EIO) fails every wait, read and write with
// ERROR_DEVICE_NOT_CONNECTED. Requests ended by CloseHandle or a purge fail
// with ERROR_OPERATION_ABORTED.
#include "serial/posix/CommPort.h"

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include <strings.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace win32posix;

namespace {

// Checks the handle and the pointer arguments a call cannot do without, with
// the error code Windows would leave.
std::shared_ptr<CCommPort> PortFor(HANDLE hFile) { return HandleAs<CCommPort>(hFile); }

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL Result(DWORD error)
{
    if (error != ERROR_SUCCESS)
        return Fail(error);
    return TRUE;
}

// Opens the device and claims it: Windows' serial driver lets one handle at a
// time have a port, whatever the share mode. TIOCEXCL alone does not stop
// root, so an advisory lock on the open file backs it. A claimed port fails
// with ERROR_SHARING_VIOLATION, so that ERROR_ACCESS_DENIED keeps meaning
// the file permissions.
int OpenDevice(const char* path, DWORD& error)
{
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A folder or a socket never opens as a device: it is no serial
        // port, rather than a missing one. Refused access stays refused.
        struct stat st {};
        const int nError = errno;
        const bool bNoDevice = stat(path, &st) == 0 && (S_ISDIR(st.st_mode) || S_ISSOCK(st.st_mode));
        error = bNoDevice ? ERROR_NOT_SUPPORTED : ErrnoToWin32(nError);
        return -1;
    }
    if (!isatty(fd)) {
        close(fd);
        error = ERROR_NOT_SUPPORTED;  // this driver opens serial devices only
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrnoToWin32(errno);
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

// Windows' names for the ports, bare ("COM1") or in the device namespace
// ("\\.\COM1"), open the matching /dev/ttyS device, as Wine's defaults do;
// anything else is a path and is opened as given.
std::string DevicePath(const char* name)
{
    std::string_view view(name);
    if (view.substr(0, 4) == "\\\\.\\")
        view.remove_prefix(4);
    if (view.size() < 4 || view.size() > 6 || strncasecmp(view.data(), "COM", 3) != 0)
        return name;
    unsigned number = 0;
    for (char c : view.substr(3)) {
        if (c < '0' || c > '9')
            return name;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number == 0)
        return name;
    return "/dev/ttyS" + std::to_string(number - 1);
}

// Completes an overlapped request that ended on the caller's thread.
BOOL FinishSync(OVERLAPPED* ov, LPDWORD count, DWORD error, DWORD bytes)
{
    if (count)
        *count = bytes;
    if (ov)
        CompleteOverlapped(ov, error, bytes);
    return Result(error);
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                   HANDLE hTemplateFile)
{
    if (!lpFileName || dwCreationDisposition != OPEN_EXISTING || hTemplateFile) {
        SetLastError(lpFileName ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    const int fd = OpenDevice(DevicePath(lpFileName).c_str(), error);
    if (fd < 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto port = CCommPort::Create(fd, error);
    if (!port) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(std::move(port));
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if ((!lpBuffer && nNumberOfBytesToRead) || (!lpNumberOfBytesRead && !lpOverlapped))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD bytes = 0;
    const DWORD error = port->Read(static_cast<std::uint8_t*>(lpBuffer), nNumberOfBytesToRead, bytes);
    return FinishSync(lpOverlapped, lpNumberOfBytesRead, error, bytes);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if ((!lpBuffer && nNumberOfBytesToWrite) || (!lpNumberOfBytesWritten && !lpOverlapped))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD bytes = 0;
    const DWORD error = port->Write(static_cast<const std::uint8_t*>(lpBuffer), nNumberOfBytesToWrite, bytes);
    return FinishSync(lpOverlapped, lpNumberOfBytesWritten, error, bytes);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    auto object = LookupHandle(hFile);
    if (!object)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpOverlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    if (auto port = std::dynamic_pointer_cast<CCommPort>(object))
        port->ServeWait(lpOverlapped, bWait);
    return FinishOverlapped(lpOverlapped, lpNumberOfBytesTransferred, bWait);
}

// Two requests are known: the error counts, and the status-byte insertion,
// only to be switched off (this driver never inserts anything into the
// received data).
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                     DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped)
{
    auto port = PortFor(hDevice);
    if (!port)
        return FALSE;
    if (!lpBytesReturned && !lpOverlapped)
        return Fail(ERROR_INVALID_PARAMETER);
    if (dwIoControlCode == IOCTL_SERIAL_GET_STATS) {
        if (!lpOutBuffer || nOutBufferSize < sizeof(SERIALPERF_STATS))
            return FinishSync(lpOverlapped, lpBytesReturned, kErrorInsufficientBuffer, 0);
        *static_cast<SERIALPERF_STATS*>(lpOutBuffer) = port->Stats();
        return FinishSync(lpOverlapped, lpBytesReturned, ERROR_SUCCESS, sizeof(SERIALPERF_STATS));
    }
    DWORD error = ERROR_SUCCESS;
    if (dwIoControlCode != IOCTL_SERIAL_LSRMST_INSERT || !lpInBuffer || nInBufferSize < 1)
        error = ERROR_INVALID_PARAMETER;
    else if (*static_cast<const BYTE*>(lpInBuffer) != 0)
        error = ERROR_NOT_SUPPORTED;
    return FinishSync(lpOverlapped, lpBytesReturned, error, 0);
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpDCB)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpDCB = port->State();
    return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpDCB || lpDCB->DCBlength != sizeof(DCB))
        return Fail(ERROR_INVALID_PARAMETER);
    return Result(port->SetState(*lpDCB));
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    return Result(port->SetQueues(dwInQueue, dwOutQueue));
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpCommTimeouts)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpCommTimeouts = port->Timeouts();
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpCommTimeouts)
        return Fail(ERROR_INVALID_PARAMETER);
    return Result(port->SetTimeouts(*lpCommTimeouts));
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpEvtMask)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpEvtMask = port->Mask();
    return TRUE;
}

BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    return Result(port->SetMask(dwEvtMask));
}

BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpEvtMask)
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpOverlapped)
        return Result(port->BeginWait(lpEvtMask, lpOverlapped));

    // Without an OVERLAPPED the caller blocks; a private event carries the completion.
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD error = port->BeginWait(lpEvtMask, &ov);
    if (error == ERROR_IO_PENDING) {
        port->ServeWait(&ov, TRUE);
        DWORD bytes = 0;
        error = FinishOverlapped(&ov, &bytes, TRUE) ? ERROR_SUCCESS : GetLastError();
    }
    CloseHandle(ov.hEvent);
    return Result(error);
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    COMSTAT stat{};
    const DWORD error = port->Status(stat);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    // Parity and framing errors come from the marks the reads took out, and
    // with overruns from the driver's counts where it keeps them.
    const DWORD dwErrors = port->TakeLineErrors();
    if (lpErrors)
        *lpErrors = dwErrors;
    if (lpStat)
        *lpStat = stat;
    return TRUE;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    return Result(port->Purge(dwFlags));
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    return Result(port->Escape(dwFunc));
}

BOOL SetCommBreak(HANDLE hFile) { return EscapeCommFunction(hFile, SETBREAK); }
BOOL ClearCommBreak(HANDLE hFile) { return EscapeCommFunction(hFile, CLRBREAK); }

BOOL TransmitCommChar(HANDLE hFile, char cChar)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    DWORD bytes = 0;
    const std::uint8_t byte = static_cast<std::uint8_t>(cChar);
    DWORD error = port->Write(&byte, 1, bytes);
    if (error == ERROR_SUCCESS && bytes != 1)
        error = ERROR_COUNTER_TIMEOUT;
    return Result(error);
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpModemStat)
        return Fail(ERROR_INVALID_PARAMETER);
    return Result(port->ModemStatus(*lpModemStat));
}

BOOL GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp)
{
    auto port = PortFor(hFile);
    if (!port)
        return FALSE;
    if (!lpCommProp)
        return Fail(ERROR_INVALID_PARAMETER);
    port->Properties(*lpCommProp);
    return TRUE;
}

BOOL GetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, LPDWORD lpdwSize)
{
    auto port = PortFor(hCommDev);
    if (!port)
        return FALSE;
    if (!lpdwSize)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!lpCC || *lpdwSize < sizeof(COMMCONFIG)) {
        *lpdwSize = sizeof(COMMCONFIG);
        return Fail(kErrorInsufficientBuffer);
    }
    *lpCC = COMMCONFIG{};
    lpCC->dwSize = sizeof(COMMCONFIG);
    lpCC->wVersion = 1;
    lpCC->dcb = port->State();
    lpCC->dwProviderSubType = kProviderRs232;
    *lpdwSize = sizeof(COMMCONFIG);
    return TRUE;
}

BOOL SetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, DWORD dwSize)
{
    auto port = PortFor(hCommDev);
    if (!port)
        return FALSE;
    if (!lpCC || dwSize < offsetof(COMMCONFIG, dcb) + sizeof(DCB) || lpCC->dcb.DCBlength != sizeof(DCB))
        return Fail(ERROR_INVALID_PARAMETER);
    return Result(port->SetState(lpCC->dcb));
}
