// The fake comm calls. One lock guards the whole fake (record, script, ports);
// it is never held while a caller blocks, and completions are published
// through the real OVERLAPPED helpers of the kernel layer.
//
// Recorded args per call (after the handle):
//   CreateFileA      access, share mode, disposition, flags     (text: the path)
//   CreateEventA     manual reset, initial state, name given
//   CreateThread     stack size, creation flags
//   ReadFile         count                                      (overlapped)
//   WriteFile        count                                      (bytes, overlapped)
//   GetOverlappedResult  wait flag                              (overlapped)
//   DeviceIoControl  code, input size, output size, output buffer given, overlapped given
//   SetupComm        input queue, output queue
//   SetCommMask      mask;  PurgeComm  flags;  EscapeCommFunction  function
//   TransmitCommChar char;  SetCommConfig  size
#include "tests/fakes/FakeWin32.h"

#include "serial/posix/Kernel.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>

namespace fakewin32 {
namespace {

using win32posix::BeginOverlapped;
using win32posix::CompleteOverlapped;

struct Port {
    explicit Port(std::string portName) : name(std::move(portName))
    {
        dcb.DCBlength = sizeof(DCB);
        dcb.BaudRate = 9600;
        dcb.fBinary = 1;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fTXContinueOnXoff = 1;
        dcb.XonLim = 2048;
        dcb.XoffLim = 512;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }

    const std::string name;
    bool open = false;
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD mask = 0;
    DWORD history = 0;  // events seen while no wait was pending, as the Windows driver keeps them
    DWORD lineErrors = 0;
    std::vector<std::uint8_t> driverCounts;  // IOCTL_SERIAL_GET_STATS's answer; empty: the request is refused
    std::deque<std::uint8_t> rx;
    std::vector<std::uint8_t> tx;
    OVERLAPPED* waitOverlapped = nullptr;
    DWORD* waitMask = nullptr;
};

class CommHandle : public win32posix::KernelObject {
public:
    explicit CommHandle(std::shared_ptr<Port> p) : port(std::move(p)) {}
    const std::shared_ptr<Port> port;
};

struct Refusal {
    std::string name;
    DWORD error;
    int first;
    int count;
};

struct Gate {
    std::string name;
    int nth;
    bool reached = false;
    bool open = false;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Call> calls;
    std::map<std::string, int> callCounts;
    std::vector<Refusal> refusals;
    std::map<std::string, std::shared_ptr<Port>> ports;
    std::vector<DWORD> exitCodes;
    bool recording = true;
    bool pendOnEmptyMask = false;
    std::list<std::shared_ptr<Gate>> gates;
    std::map<std::string, int> gateCounts;
};

State& S()
{
    static State* state = new State;  // outlives detached threads at exit
    return *state;
}

std::shared_ptr<Port> PortNamed(const std::string& name)  // lock held
{
    auto& slot = S().ports[name];
    if (!slot)
        slot = std::make_shared<Port>(name);
    return slot;
}

// The port behind a comm handle. The handle object is dropped before the
// caller takes the lock.
std::shared_ptr<Port> PortOf(HANDLE handle)
{
    auto object = std::dynamic_pointer_cast<CommHandle>(win32posix::LookupHandle(handle));
    return object ? object->port : nullptr;
}

// Records the call; returns the error it is scripted to fail with, or 0.
DWORD Record(Call call)  // lock held
{
    State& s = S();
    const int n = ++s.callCounts[call.name];
    DWORD error = 0;
    for (const Refusal& r : s.refusals) {
        if (r.name == call.name && n >= r.first && (r.count < 0 || n < r.first + r.count))
            error = r.error;
    }
    if (s.recording)
        s.calls.push_back(std::move(call));
    s.changed.notify_all();
    return error;
}

// Records a call made on handle, naming the port behind it if there is one.
DWORD RecordOn(HANDLE handle, const std::shared_ptr<Port>& port, Call call)  // lock held
{
    call.handle = handle;
    if (port)
        call.port = port->name;
    return Record(std::move(call));
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Ends a pending event wait with the given events (0: the mask was changed).
void CompleteWait(Port& port, DWORD events)  // lock held
{
    OVERLAPPED* ov = port.waitOverlapped;
    *port.waitMask = events;
    port.waitOverlapped = nullptr;
    port.waitMask = nullptr;
    CompleteOverlapped(ov, ERROR_SUCCESS, sizeof(DWORD));
}

void Signal(Port& port, DWORD events)  // lock held
{
    events &= port.mask;
    if (!events)
        return;
    if (port.waitOverlapped)
        CompleteWait(port, events);
    else
        port.history |= events;
}

void PassGate(const std::string& name)
{
    State& s = S();
    std::unique_lock lock(s.mutex);
    const int n = ++s.gateCounts[name];
    for (const std::shared_ptr<Gate>& gate : s.gates) {
        if (gate->name != name || gate->nth != n)
            continue;
        const std::shared_ptr<Gate> held = gate;  // Reset may drop it from the list meanwhile
        held->reached = true;
        s.changed.notify_all();
        s.changed.wait(lock, [&] { return held->open; });
        return;
    }
}

// The common shape of a comm call: record it on its port, apply a scripted
// refusal, else run body(port) under the lock.
template <class Body>
BOOL CommCall(HANDLE handle, Call call, Body body)
{
    PassGate(call.name);
    std::shared_ptr<Port> port = PortOf(handle);
    std::lock_guard lock(S().mutex);
    const DWORD error = RecordOn(handle, port, std::move(call));
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    if (error)
        return Fail(error);
    return body(*port);
}

// ReadFile and WriteFile: moveBytes(port) moves the bytes at once under the
// lock and says how many. A scripted ERROR_IO_PENDING still moves them but reports the
// request pending, so the caller must collect the count from the overlapped.
template <class Move>
BOOL Transfer(HANDLE handle, Call call, LPDWORD lpDone, LPOVERLAPPED lpOverlapped, Move moveBytes)
{
    std::shared_ptr<Port> port = PortOf(handle);
    std::lock_guard lock(S().mutex);
    const DWORD error = RecordOn(handle, port, std::move(call));
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    if (error && error != ERROR_IO_PENDING)
        return Fail(error);
    const DWORD n = moveBytes(*port);
    if (lpOverlapped) {
        BeginOverlapped(lpOverlapped);
        CompleteOverlapped(lpOverlapped, ERROR_SUCCESS, n);
    }
    if (error == ERROR_IO_PENDING) {
        if (lpDone)
            *lpDone = 0;
        return Fail(ERROR_IO_PENDING);
    }
    if (lpDone)
        *lpDone = n;
    return TRUE;
}

Call Named(const char* name, std::vector<std::uint64_t> args = {})
{
    Call call;
    call.name = name;
    call.args = std::move(args);
    return call;
}

struct ThreadStart {
    LPTHREAD_START_ROUTINE proc;
    LPVOID param;
};

DWORD WINAPI ThreadTrampoline(LPVOID pStart)
{
    const ThreadStart start = *static_cast<ThreadStart*>(pStart);
    delete static_cast<ThreadStart*>(pStart);
    const DWORD code = start.proc(start.param);
    std::lock_guard lock(S().mutex);
    S().exitCodes.push_back(code);
    S().changed.notify_all();
    return code;
}

}  // namespace

// ---- test side

void Reset()
{
    State& s = S();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
    s.callCounts.clear();
    s.refusals.clear();
    s.ports.clear();
    s.exitCodes.clear();
    s.recording = true;
    s.pendOnEmptyMask = false;
    for (const std::shared_ptr<Gate>& gate : s.gates)
        gate->open = true;
    s.gates.clear();
    s.gateCounts.clear();
    s.changed.notify_all();
}

void HoldCall(const std::string& name, int nth)
{
    std::lock_guard lock(S().mutex);
    auto gate = std::make_shared<Gate>();
    gate->name = name;
    gate->nth = nth;
    S().gates.push_back(gate);
}

void WaitCallHeld(const std::string& name)
{
    std::unique_lock lock(S().mutex);
    S().changed.wait(lock, [&] {
        for (const auto& gate : S().gates)
            if (gate->name == name && gate->reached && !gate->open)
                return true;
        return false;
    });
}

void ReleaseCall(const std::string& name)
{
    std::lock_guard lock(S().mutex);
    for (const auto& gate : S().gates)
        if (gate->name == name)
            gate->open = true;
    S().changed.notify_all();
}

void WaitUntilCalled(const std::string& name, std::size_t n)
{
    std::unique_lock lock(S().mutex);
    S().changed.wait(lock, [&] { return static_cast<std::size_t>(S().callCounts[name]) >= n; });
}

void PendOnEmptyMask(bool bPend)
{
    std::lock_guard lock(S().mutex);
    S().pendOnEmptyMask = bPend;
}

std::vector<Call> Calls()
{
    std::lock_guard lock(S().mutex);
    return S().calls;
}

std::vector<std::string> CallNames()
{
    std::lock_guard lock(S().mutex);
    std::vector<std::string> names;
    for (const Call& call : S().calls)
        names.push_back(call.name);
    return names;
}

std::size_t CountCalls(const std::string& name)
{
    std::lock_guard lock(S().mutex);
    return static_cast<std::size_t>(
        std::count_if(S().calls.begin(), S().calls.end(), [&](const Call& c) { return c.name == name; }));
}

void ClearCalls()
{
    std::lock_guard lock(S().mutex);
    S().calls.clear();
}

void SetRecording(bool bRecord)
{
    std::lock_guard lock(S().mutex);
    S().recording = bRecord;
}

void Refuse(const std::string& name, DWORD error, int first, int count)
{
    std::lock_guard lock(S().mutex);
    S().refusals.push_back({name, error, first, count});
}

void Feed(const std::string& name, const void* pBytes, std::size_t count)
{
    std::lock_guard lock(S().mutex);
    auto port = PortNamed(name);
    const auto* p = static_cast<const std::uint8_t*>(pBytes);
    port->rx.insert(port->rx.end(), p, p + count);
    if (count)
        Signal(*port, EV_RXCHAR);
}

void RaiseEvents(const std::string& name, DWORD events)
{
    std::lock_guard lock(S().mutex);
    Signal(*PortNamed(name), events);
}

namespace {

// A test reads or sets one field of a named port; the port exists once asked for.
template <typename T>
T PortField(const std::string& name, T Port::*field)
{
    std::lock_guard lock(S().mutex);
    return (*PortNamed(name)).*field;
}

template <typename T>
void SetPortField(const std::string& name, T Port::*field, const T& value)
{
    std::lock_guard lock(S().mutex);
    (*PortNamed(name)).*field = value;
}

}  // namespace

void SetLineErrors(const std::string& name, DWORD errors) { SetPortField(name, &Port::lineErrors, errors); }
void SetDriverCounts(const std::string& name, const SERIALPERF_STATS& stats)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&stats);
    SetPortField(name, &Port::driverCounts, std::vector<std::uint8_t>(p, p + sizeof stats));
}
void SetDcb(const std::string& name, const DCB& dcb) { SetPortField(name, &Port::dcb, dcb); }
void SetTimeouts(const std::string& name, const COMMTIMEOUTS& timeouts)
{
    SetPortField(name, &Port::timeouts, timeouts);
}
DCB Dcb(const std::string& name) { return PortField(name, &Port::dcb); }
COMMTIMEOUTS Timeouts(const std::string& name) { return PortField(name, &Port::timeouts); }
DWORD EventMask(const std::string& name) { return PortField(name, &Port::mask); }

std::size_t Waiting(const std::string& name)
{
    std::lock_guard lock(S().mutex);
    return PortNamed(name)->rx.size();
}

std::vector<std::uint8_t> Written(const std::string& name) { return PortField(name, &Port::tx); }
bool IsOpen(const std::string& name) { return PortField(name, &Port::open); }

void WaitUntilWaitPending(const std::string& name)
{
    std::unique_lock lock(S().mutex);
    auto port = PortNamed(name);
    S().changed.wait(lock, [&] { return port->waitOverlapped != nullptr; });
}

std::vector<DWORD> ThreadExitCodes()
{
    std::lock_guard lock(S().mutex);
    return S().exitCodes;
}

void WaitThreadsEnded(std::size_t n)
{
    std::unique_lock lock(S().mutex);
    S().changed.wait(lock, [&] { return S().exitCodes.size() >= n; });
}

}  // namespace fakewin32

// ---- the Win32 side

using namespace fakewin32;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    std::shared_ptr<Port> port;
    {
        std::lock_guard lock(S().mutex);
        Call call = Named("CreateFileA", {dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes});
        call.text = lpFileName ? lpFileName : "";
        call.port = call.text;
        if (const DWORD error = Record(std::move(call))) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        port = PortNamed(lpFileName ? lpFileName : "");
        if (port->open) {  // share mode 0 everywhere: a second open is refused
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        port->open = true;
        port->mask = 0;
        port->history = 0;
    }
    return win32posix::RegisterHandle(std::make_shared<CommHandle>(port));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    {
        std::lock_guard lock(S().mutex);
        Call call = Named("CreateEventA", {static_cast<std::uint64_t>(bManualReset),
                                           static_cast<std::uint64_t>(bInitialState), lpName != nullptr});
        if (const DWORD error = Record(std::move(call))) {
            SetLastError(error);
            return nullptr;
        }
    }
    return KernelCreateEventA(lpAttributes, bManualReset, bInitialState, lpName);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpAttributes, std::size_t dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    {
        std::lock_guard lock(S().mutex);
        if (const DWORD error = Record(Named("CreateThread", {dwStackSize, dwCreationFlags}))) {
            SetLastError(error);
            return nullptr;
        }
    }
    auto* start = new ThreadStart{lpStartAddress, lpParameter};
    HANDLE thread = KernelCreateThread(lpAttributes, dwStackSize, ThreadTrampoline, start, dwCreationFlags, lpThreadId);
    if (!thread)
        delete start;
    return thread;
}

// A close with a wait still pending cancels it, as Windows does.
BOOL CloseHandle(HANDLE hObject)
{
    std::shared_ptr<Port> port = PortOf(hObject);
    {
        std::lock_guard lock(S().mutex);
        if (const DWORD error = RecordOn(hObject, port, Named("CloseHandle")))
            return Fail(error);
        if (port) {
            port->open = false;
            if (port->waitOverlapped) {
                OVERLAPPED* ov = port->waitOverlapped;
                port->waitOverlapped = nullptr;
                port->waitMask = nullptr;
                CompleteOverlapped(ov, ERROR_OPERATION_ABORTED, 0);
            }
        }
    }
    return KernelCloseHandle(hObject);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    Call call = Named("ReadFile", {nNumberOfBytesToRead});
    call.overlapped = lpOverlapped;
    return Transfer(hFile, std::move(call), lpNumberOfBytesRead, lpOverlapped, [&](Port& port) {
        // Read time-outs MAXDWORD/0/0 everywhere: take what has arrived, even none.
        const std::size_t n = std::min<std::size_t>(nNumberOfBytesToRead, port.rx.size());
        std::copy_n(port.rx.begin(), n, static_cast<std::uint8_t*>(lpBuffer));
        port.rx.erase(port.rx.begin(), port.rx.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<DWORD>(n);
    });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    Call call = Named("WriteFile", {nNumberOfBytesToWrite});
    call.overlapped = lpOverlapped;
    const auto* p = static_cast<const std::uint8_t*>(lpBuffer);
    call.bytes.assign(p, p + nNumberOfBytesToWrite);
    return Transfer(hFile, std::move(call), lpNumberOfBytesWritten, lpOverlapped, [&](Port& port) {
        port.tx.insert(port.tx.end(), p, p + nNumberOfBytesToWrite);
        return nNumberOfBytesToWrite;
    });
}

// Blocks (with bWait) outside the fake's lock, on the request's own event.
BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    Call call = Named("GetOverlappedResult", {static_cast<std::uint64_t>(bWait)});
    call.overlapped = lpOverlapped;
    const BOOL bCalled = CommCall(hFile, std::move(call), [](Port&) { return TRUE; });
    if (!bCalled)
        return FALSE;
    return win32posix::FinishOverlapped(lpOverlapped, lpNumberOfBytesTransferred, bWait);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                     DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped)
{
    Call call = Named("DeviceIoControl", {dwIoControlCode, nInBufferSize, nOutBufferSize, lpOutBuffer != nullptr,
                                          lpOverlapped != nullptr});
    const auto* p = static_cast<const std::uint8_t*>(lpInBuffer);
    if (p)
        call.bytes.assign(p, p + nInBufferSize);
    return CommCall(hDevice, std::move(call), [&](Port& port) {
        if (lpBytesReturned)
            *lpBytesReturned = 0;
        if (dwIoControlCode != IOCTL_SERIAL_GET_STATS)
            return TRUE;
        if (port.driverCounts.empty())
            return Fail(ERROR_INVALID_FUNCTION);  // a driver that keeps no counts
        if (!lpOutBuffer || nOutBufferSize < port.driverCounts.size())
            return Fail(ERROR_INVALID_PARAMETER);
        std::memcpy(lpOutBuffer, port.driverCounts.data(), port.driverCounts.size());
        if (lpBytesReturned)
            *lpBytesReturned = static_cast<DWORD>(port.driverCounts.size());
        return TRUE;
    });
}

namespace {

// A getter records the setting it returns, so a test sees what the caller
// read as well as what it wrote.
template <typename T>
BOOL GetSetting(HANDLE hFile, const char* name, T Port::*setting, T Call::*recorded, T* pOut)
{
    std::shared_ptr<Port> port = PortOf(hFile);
    std::lock_guard lock(S().mutex);
    Call call = Named(name);
    if (port)
        call.*recorded = (*port).*setting;
    const DWORD error = RecordOn(hFile, port, std::move(call));
    if (!port)
        return Fail(ERROR_INVALID_HANDLE);
    if (error)
        return Fail(error);
    *pOut = (*port).*setting;
    return TRUE;
}

template <typename T>
BOOL SetSetting(HANDLE hFile, const char* name, T Port::*setting, T Call::*recorded, const T* pIn)
{
    Call call = Named(name);
    call.*recorded = *pIn;
    return CommCall(hFile, std::move(call), [&](Port& port) {
        port.*setting = *pIn;
        return TRUE;
    });
}

}  // namespace

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB)
{
    return GetSetting(hFile, "GetCommState", &Port::dcb, &Call::dcb, lpDCB);
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB)
{
    return SetSetting(hFile, "SetCommState", &Port::dcb, &Call::dcb, lpDCB);
}

BOOL SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD dwOutQueue)
{
    return CommCall(hFile, Named("SetupComm", {dwInQueue, dwOutQueue}), [](Port&) { return TRUE; });
}

BOOL GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    return GetSetting(hFile, "GetCommTimeouts", &Port::timeouts, &Call::timeouts, lpCommTimeouts);
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts)
{
    return SetSetting(hFile, "SetCommTimeouts", &Port::timeouts, &Call::timeouts, lpCommTimeouts);
}

BOOL GetCommMask(HANDLE hFile, LPDWORD lpEvtMask)
{
    return CommCall(hFile, Named("GetCommMask"), [&](Port& port) {
        *lpEvtMask = port.mask;
        return TRUE;
    });
}

// From any thread: a pending wait ends with an empty mask, as on Windows.
BOOL SetCommMask(HANDLE hFile, DWORD dwEvtMask)
{
    return CommCall(hFile, Named("SetCommMask", {dwEvtMask}), [&](Port& port) {
        port.mask = dwEvtMask;
        port.history = 0;
        if (port.waitOverlapped)
            CompleteWait(port, 0);
        return TRUE;
    });
}

// Completes at once with events seen since the last wait, otherwise pends.
// Like the Windows driver it refuses a second wait and a wait on an empty mask.
BOOL WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped)
{
    Call call = Named("WaitCommEvent");
    call.overlapped = lpOverlapped;
    return CommCall(hFile, std::move(call), [&](Port& port) {
        if (port.waitOverlapped || (port.mask == 0 && !S().pendOnEmptyMask) || !lpOverlapped)
            return Fail(ERROR_INVALID_PARAMETER);
        BeginOverlapped(lpOverlapped);
        if (const DWORD events = port.history & port.mask) {
            port.history = 0;
            *lpEvtMask = events;
            CompleteOverlapped(lpOverlapped, ERROR_SUCCESS, sizeof(DWORD));
            return TRUE;
        }
        port.waitOverlapped = lpOverlapped;
        port.waitMask = lpEvtMask;
        S().changed.notify_all();
        return Fail(ERROR_IO_PENDING);
    });
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat)
{
    return CommCall(hFile, Named("ClearCommError"), [&](Port& port) {
        if (lpErrors)
            *lpErrors = port.lineErrors;
        port.lineErrors = 0;
        if (lpStat) {
            std::memset(lpStat, 0, sizeof(*lpStat));
            lpStat->cbInQue = static_cast<DWORD>(port.rx.size());
        }
        return TRUE;
    });
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags)
{
    return CommCall(hFile, Named("PurgeComm", {dwFlags}), [&](Port& port) {
        if (dwFlags & PURGE_RXCLEAR)
            port.rx.clear();
        return TRUE;
    });
}

BOOL EscapeCommFunction(HANDLE hFile, DWORD dwFunc)
{
    return CommCall(hFile, Named("EscapeCommFunction", {dwFunc}), [](Port&) { return TRUE; });
}

BOOL SetCommBreak(HANDLE hFile)
{
    return CommCall(hFile, Named("SetCommBreak"), [](Port&) { return TRUE; });
}

BOOL ClearCommBreak(HANDLE hFile)
{
    return CommCall(hFile, Named("ClearCommBreak"), [](Port&) { return TRUE; });
}

BOOL TransmitCommChar(HANDLE hFile, char cChar)
{
    return CommCall(hFile, Named("TransmitCommChar", {static_cast<std::uint8_t>(cChar)}), [&](Port& port) {
        port.tx.push_back(static_cast<std::uint8_t>(cChar));
        return TRUE;
    });
}

BOOL GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat)
{
    return CommCall(hFile, Named("GetCommModemStatus"), [&](Port&) {
        *lpModemStat = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
        return TRUE;
    });
}

BOOL GetCommProperties(HANDLE hFile, LPCOMMPROP lpCommProp)
{
    return CommCall(hFile, Named("GetCommProperties"), [&](Port&) {
        std::memset(lpCommProp, 0, sizeof(*lpCommProp));
        lpCommProp->dwMaxBaud = 115200;
        return TRUE;
    });
}

BOOL GetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, LPDWORD lpdwSize)
{
    return CommCall(hCommDev, Named("GetCommConfig"), [&](Port& port) {
        if (!lpdwSize || *lpdwSize < sizeof(COMMCONFIG))
            return Fail(ERROR_INVALID_PARAMETER);
        std::memset(lpCC, 0, sizeof(*lpCC));
        lpCC->dwSize = sizeof(COMMCONFIG);
        lpCC->dcb = port.dcb;
        *lpdwSize = sizeof(COMMCONFIG);
        return TRUE;
    });
}

BOOL SetCommConfig(HANDLE hCommDev, LPCOMMCONFIG lpCC, DWORD dwSize)
{
    return CommCall(hCommDev, Named("SetCommConfig", {dwSize}), [&](Port& port) {
        port.dcb = lpCC->dcb;
        return TRUE;
    });
}
