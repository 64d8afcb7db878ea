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
// starts only when a wait is first handed to it (no product code waits on the
// event, so a product port starts one only if its poll fails). The one
// overlapped WaitCommEvent a port may have pending is served by whoever waits
// for it: GetOverlappedResult(TRUE) polls the tty on its own thread (no
// hand-off, no wake-up of a second thread per received burst); a wait on the
// OVERLAPPED's event hands it to the waiter thread. All mutable state is
// guarded by m_mutex; the fds are closed only by the destructor, so a call
// still running on another thread never sees them reused.
class CCommPort : public KernelObject, public std::enable_shared_from_this<CCommPort> {
public:
    // Takes ownership of fd (a tty, already claimed) and puts it in raw mode.
    // Null and error set when that fails; fd is then closed. The tty's own
    // settings go back at the close: a mistyped port may be someone's terminal.
    static std::shared_ptr<CCommPort> Create(int fd, DWORD& error);
    ~CCommPort() override;
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // Ends the pending wait and any blocked read or write with
    // ERROR_OPERATION_ABORTED, stops the waiter, gives the tty back the
    // settings it had when opened and releases the port's claim.
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
    // ERROR_IO_PENDING when it is left pending, else the error (ov is then
    // completed with that error, so GetOverlappedResult never hangs).
    DWORD BeginWait(LPDWORD pdwMask, OVERLAPPED* ov);
    // For GetOverlappedResult: when ov is this port's pending wait, ends it if
    // the line is ready; with bWait, blocks on the calling thread until it ends.
    // Does nothing for any other OVERLAPPED or a wait the waiter thread serves.
    void ServeWait(OVERLAPPED* ov, BOOL bWait);
    // A thread is about to wait on the pending wait's event.
    void OnEventWait(std::uint64_t gen) override;
    DWORD Read(std::uint8_t* pBytes, DWORD dwCount, DWORD& dwDone);
    DWORD Write(const std::uint8_t* pBytes, DWORD dwCount, DWORD& dwDone);
    DWORD Status(COMSTAT& stat);
    // The CE_ flags gathered since the last call, which clears them.
    DWORD TakeLineErrors();
    // The line's error counts since the port opened (IOCTL_SERIAL_GET_STATS).
    SERIALPERF_STATS Stats();
    DWORD Purge(DWORD dwFlags);
    DWORD Escape(DWORD dwFunc);
    DWORD ModemStatus(DWORD& dwStatus);
    void Properties(COMMPROP& prop);

private:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

    // Who polls the tty for the pending wait: nobody yet, a thread inside
    // ServeWait (woken through m_callerWakeFd) or the waiter (m_wakeFd).
    enum class Server { None, Caller, Waiter };
    struct PendingWait {
        OVERLAPPED* ov = nullptr;
        LPDWORD pdwMask = nullptr;
        std::uint64_t gen = 0;
        Server server = Server::None;
    };
    // A read or write blocked in poll; purge and close wake it through efd.
    struct Blocked {
        int efd;
        bool bRead;
        bool bAborted;
    };
    enum class Wake { Ready, Timeout, Aborted, Hangup, NoResources };

    CCommPort(int fd, int wakeFd, int callerWakeFd, const DCB& dcb, const termios& lineAtOpen);

    Wake WaitFor(short events, Clock::time_point deadline, bool bRead);
    void AbortBlocked(bool bReads, bool bWrites);         // m_mutex held
    bool TakeWait(std::uint64_t gen, PendingWait& wait);  // m_mutex held
    void KickServer(Server server);                       // wakes a wait's server out of its poll
    bool Outcome(short revents, DWORD& events, DWORD& error);
    bool EndIfReady(std::uint64_t gen);
    void EndWait(std::uint64_t gen, DWORD events, DWORD error);
    void HandToWaiter(std::uint64_t gen);
    bool StartWaiter();
    void ServeOnCaller(std::uint64_t gen);
    void WaiterLoop();
    DWORD SetModemLine(int line, bool bOn);
    DWORD Unmark(std::uint8_t* pBytes, DWORD dwCount);
    bool ReadCounts(LineCounts& counts) const;

    const int m_fd;
    const int m_wakeFd;
    const int m_callerWakeFd;
    const termios m_lineAtOpen;
    std::mutex m_mutex;
    std::condition_variable m_cvWait;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts{};
    DWORD m_dwMask = 0;
    DWORD m_dwInQueue = 4096;
    DWORD m_dwOutQueue = 4096;
    bool m_bClosed = false;
    bool m_bWaitPending = false;
    bool m_bCallerServing = false;  // only one thread at a time drains m_callerWakeFd
    bool m_bMarked = false;         // the tty marks errors (PARMRK): reads unmark them
    MarkedInput m_marked;
    DWORD m_dwLineErrors = 0;
    DWORD m_dwMarks = 0;  // bytes that came with an error mark since the port opened
    // The driver's own counts, where it keeps them: at the open, and when
    // TakeLineErrors last looked.
    bool m_bCounted = false;
    LineCounts m_countsAtOpen;
    LineCounts m_countsTaken;
    PendingWait m_wait;
    std::uint64_t m_nextGen = 0;
    std::vector<Blocked*> m_blocked;
    std::mutex m_waiterMutex;       // guards the two below; never held with m_mutex
    std::thread m_waiter;           // not started until needed
    bool m_bWaiterRetired = false;  // the port closed: no waiter may start
};

}  // namespace win32posix
