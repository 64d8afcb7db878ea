// The scriptable fake serial driver that unit tests link instead of the
// product's POSIX driver. Every port name opens a fake port; each records the
// comm calls made on it, keeps a DCB, COMMTIMEOUTS and event mask, and
// delivers bytes the test feeds. Events and threads are the real ones of
// serial/posix/Kernel.cpp, so the product's reader thread runs on it.
// Thread safe; call Reset() at the start of every test.
#pragma once

#include "platform/Win32Api.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fakewin32 {

// One recorded call. args holds the scalar arguments after the handle, in the
// order the Win32 call takes them (documented per call in FakeWin32.cpp).
struct Call {
    std::string name;  // "SetCommMask"
    std::string port;  // the port a comm call was made on ("" for none)
    std::vector<std::uint64_t> args;
    HANDLE handle = nullptr;           // the handle the call was made on (CloseHandle: the one closed)
    const void* overlapped = nullptr;  // ReadFile, WriteFile, WaitCommEvent, GetOverlappedResult
    std::string text;                  // CreateFileA: the path
    std::vector<std::uint8_t> bytes;   // WriteFile: the bytes; DeviceIoControl: the input
    DCB dcb{};                         // SetCommState: as written; GetCommState: as returned
    COMMTIMEOUTS timeouts{};           // SetCommTimeouts: as written; GetCommTimeouts: as returned
};

void Reset();

std::vector<Call> Calls();
std::vector<std::string> CallNames();
std::size_t CountCalls(const std::string& name);
void ClearCalls();
// Off: calls are counted and scripted but not kept (long stress runs).
void SetRecording(bool bRecord);

// Calls number first .. first+count-1 (counted from Reset, 1-based) of the
// named function fail with error; count -1: every one from first on.
// ReadFile/WriteFile "refused" with ERROR_IO_PENDING go pending instead and
// complete at once, so GetOverlappedResult then reports the transfer.
void Refuse(const std::string& name, DWORD error, int first = 1, int count = -1);

// Call gates, for ordering a race deterministically: the nth call of name
// (counted from Reset) stops before it does anything until ReleaseCall. Only
// the calls on a port handle other than ReadFile/WriteFile/GetCommState/
// GetCommTimeouts pass gates.
void HoldCall(const std::string& name, int nth);
void WaitCallHeld(const std::string& name);
void ReleaseCall(const std::string& name);
// Blocks until name has been called n times since Reset.
void WaitUntilCalled(const std::string& name, std::size_t n);

// On: WaitCommEvent on an empty event mask pends (some drivers do) instead of
// failing with ERROR_INVALID_PARAMETER as the Windows driver does.
void PendOnEmptyMask(bool bPend);

// Line side of a port (created on first mention, kept until Reset).
void Feed(const std::string& port, const void* pBytes, std::size_t count);  // raises EV_RXCHAR
void RaiseEvents(const std::string& port, DWORD events);
void SetLineErrors(const std::string& port, DWORD errors);
// The counts IOCTL_SERIAL_GET_STATS answers with; until set, it is refused.
void SetDriverCounts(const std::string& port, const SERIALPERF_STATS& stats);
void SetDcb(const std::string& port, const DCB& dcb);
void SetTimeouts(const std::string& port, const COMMTIMEOUTS& timeouts);
DCB Dcb(const std::string& port);
COMMTIMEOUTS Timeouts(const std::string& port);
DWORD EventMask(const std::string& port);
std::size_t Waiting(const std::string& port);  // bytes not yet read
std::vector<std::uint8_t> Written(const std::string& port);
bool IsOpen(const std::string& port);

// Blocks until a WaitCommEvent is pending on the port.
void WaitUntilWaitPending(const std::string& port);
// Exit codes of the threads started through CreateThread that have ended, in
// the order they ended; WaitThreadsEnded blocks until n have.
std::vector<DWORD> ThreadExitCodes();
void WaitThreadsEnded(std::size_t n);

}  // namespace fakewin32
