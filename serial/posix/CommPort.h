// The object behind a serial-port HANDLE in the POSIX driver (Comm.cpp).
#pragma once

#include "serial/posix/Kernel.h"
#include "serial/posix/LineSettings.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace win32posix {

// One open tty. Every call returns a Win32 error code (ERROR_SUCCESS when it
// worked); Comm.cpp turns that into the BOOL-and-last-error form.
//
// Threads: any number of callers, plus the port's own waiter thread, which
// serves the one overlapped WaitCommEvent a port may have pending. All mutable
// state is guarded by m_mutex; the fd itself is closed only by the destructor,
// so a call still running on another thread never sees it reused.
class CCommPort : public KernelObject {
public:
    // Takes ownership of fd (a tty, already claimed) and puts it in raw mode.
    // Null and error set when that or the waiter thread fails; fd is then closed.
    static std::shared_ptr<CCommPort> Create(int fd, DWORD& error);
    ~CCommPort() override;
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // Ends the pending wait and any blocked read or write with
    // ERROR_OPERATION_ABORTED, stops the waiter and releases the port's claim.
    void OnClose() override;

    DCB State();
    DWORD SetState(const DCB& dcb);
    DWORD SetQueues(DWORD dwInQueue, DWORD dwOutQueue);
    COMMTIMEOUTS Timeouts();
    DWORD SetTimeouts(const COMMTIMEOUTS& timeouts);
    DWORD Mask();
    // A pending wait ends at once, successfully, with an empty mask.
    DWORD SetMask(DWORD dwMask);
    // ERROR_SUCCESS when the wait completed at once (ov completed too),
    // ERROR_IO_PENDING when the waiter thread will complete it, else the error
    // (ov is then completed with that error, so GetOverlappedResult never hangs).
    DWORD BeginWait(LPDWORD pdwMask, OVERLAPPED* ov);
    DWORD Read(std::uint8_t* pBytes, DWORD dwCount, DWORD& dwDone);
    DWORD Write(const std::uint8_t* pBytes, DWORD dwCount, DWORD& dwDone);
    DWORD Status(COMSTAT& stat);
    DWORD Purge(DWORD dwFlags);
    DWORD Escape(DWORD dwFunc);
    DWORD ModemStatus(DWORD& dwStatus);
    void Properties(COMMPROP& prop);

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

    struct PendingWait {
        OVERLAPPED* ov = nullptr;
        LPDWORD pdwMask = nullptr;
        std::uint64_t gen = 0;
    };
    // A read or write blocked in poll; purge and close wake it through efd.
    struct Blocked {
        int efd;
        bool bRead;
        bool bAborted;
    };
    enum class Wake { Ready, Timeout, Aborted, Hangup, NoResources };

    CCommPort(int fd, int wakeFd, const DCB& dcb);

    Wake WaitFor(short events, Clock::time_point deadline, bool bRead);
    void AbortBlocked(bool bReads, bool bWrites);  // m_mutex held
    bool TakeWait(std::uint64_t gen, PendingWait& wait);  // m_mutex held
    void Kick();  // wakes the waiter thread out of its poll
    void WaiterLoop();
    DWORD SetModemLine(int line, bool bOn);

    const int m_fd;
    const int m_wakeFd;
    std::mutex m_mutex;
    std::condition_variable m_cvWait;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts{};
    DWORD m_dwMask = 0;
    DWORD m_dwInQueue = 4096;
    DWORD m_dwOutQueue = 4096;
    bool m_bClosed = false;
    bool m_bWaitPending = false;
    PendingWait m_wait;
    std::uint64_t m_nextGen = 0;
    std::vector<Blocked*> m_blocked;
    std::thread m_waiter;
};

}  // namespace win32posix
