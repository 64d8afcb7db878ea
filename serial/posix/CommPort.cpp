#include "serial/posix/CommPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace win32posix {
namespace {

// Every event bit from EV_RXCHAR up to EV_EVENT2.
constexpr DWORD kKnownEvents = (EV_EVENT2 << 1) - EV_RXCHAR;
constexpr DWORD kPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    if (deadline == std::chrono::steady_clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

std::chrono::steady_clock::time_point After(std::uint64_t ms)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// A pty has no modem lines: its TIOCM* calls fail with one of these.
bool NoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

void Signal(int efd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(efd, &one, sizeof one);  // a full counter still wakes
}

void Drain(int efd)
{
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = read(efd, &count, sizeof count);
}

// An open that fails gives the tty back as it was found, as a close does
// (OnClose): its own settings, when they were changed, and no exclusive
// claim, which would stay on the tty for as long as anyone else has it open
// (the shell of a terminal typed as the port).
void CloseUnopened(int fd, const termios* pLineAtOpen)
{
    if (pLineAtOpen != nullptr)
        tcsetattr(fd, TCSANOW, pLineAtOpen);
    ioctl(fd, TIOCNXCL);
    close(fd);
}

}  // namespace

std::shared_ptr<CCommPort> CCommPort::Create(int fd, DWORD& error)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        error = ErrnoToWin32(errno);
        CloseUnopened(fd, nullptr);
        return nullptr;
    }
    const termios lineAtOpen = t;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &t) != 0 || tcgetattr(fd, &t) != 0) {
        error = ErrnoToWin32(errno);
        CloseUnopened(fd, &lineAtOpen);
        return nullptr;
    }
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int callerWakeFd = wakeFd < 0 ? -1 : eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (callerWakeFd < 0) {
        error = ErrnoToWin32(errno);
        if (wakeFd >= 0)
            close(wakeFd);
        CloseUnopened(fd, &lineAtOpen);
        return nullptr;
    }
    std::shared_ptr<CCommPort> port;
    try {
        port.reset(new CCommPort(fd, wakeFd, callerWakeFd, DcbFromTermios(t), lineAtOpen));
    }
    catch (const std::exception&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        if (!port) {
            close(callerWakeFd);
            close(wakeFd);
            CloseUnopened(fd, &lineAtOpen);
        }
        return nullptr;  // a constructed port closes its fds itself
    }
    return port;
}

CCommPort::CCommPort(int fd, int wakeFd, int callerWakeFd, const DCB& dcb, const termios& lineAtOpen)
    : m_fd(fd), m_wakeFd(wakeFd), m_callerWakeFd(callerWakeFd), m_lineAtOpen(lineAtOpen), m_dcb(dcb)
{
    // The driver counts from its device's start; the port reports from its open.
    m_bCounted = ReadCounts(m_countsAtOpen);
    m_countsTaken = m_countsAtOpen;
}

CCommPort::~CCommPort()
{
    OnClose();
    close(m_callerWakeFd);
    close(m_wakeFd);
    close(m_fd);
}

void CCommPort::OnClose()
{
    PendingWait wait;
    bool bHadWait = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed)
            return;
        m_bClosed = true;
        bHadWait = TakeWait(m_wait.gen, wait);
        AbortBlocked(true, true);
    }
    m_cvWait.notify_all();
    KickServer(Server::Waiter);  // to see m_bClosed
    if (bHadWait && wait.server == Server::Caller)
        KickServer(Server::Caller);
    std::thread waiter;
    {
        std::lock_guard lock(m_waiterMutex);
        m_bWaiterRetired = true;
        waiter = std::move(m_waiter);
    }
    if (waiter.joinable())
        waiter.join();
    if (bHadWait)
        CompleteOverlapped(wait.ov, ERROR_OPERATION_ABORTED, 0);
    // At once, not after draining: a line that does not take its output
    // (flow control, a far end gone) must not hold the close.
    tcsetattr(m_fd, TCSANOW, &m_lineAtOpen);
    ioctl(m_fd, TIOCNXCL);
    flock(m_fd, LOCK_UN);
}

DCB CCommPort::State()
{
    std::lock_guard lock(m_mutex);
    return m_dcb;
}

// The DCB as set is kept whole, so GetCommState hands back what termios
// cannot hold (XonLim, EvtChar, fAbortOnError...), while the tty is checked
// to have taken everything it can hold.
DWORD CCommPort::SetState(const DCB& dcb)
{
    std::lock_guard lock(m_mutex);
    termios before{}, wanted{}, got{};
    if (tcgetattr(m_fd, &before) != 0)
        return ErrnoToWin32(errno);
    wanted = before;
    if (const DWORD error = ApplyDcb(dcb, wanted); error != ERROR_SUCCESS)
        return error;
    if (tcsetattr(m_fd, TCSANOW, &wanted) != 0)
        return ErrnoToWin32(errno);
    if (tcgetattr(m_fd, &got) != 0 || !LineSettingsTook(wanted, got)) {
        tcsetattr(m_fd, TCSANOW, &before);
        return ERROR_INVALID_PARAMETER;
    }
    m_bMarked = (got.c_iflag & PARMRK) != 0;
    m_marked = MarkedInput{};
    // DTR and RTS follow the DCB where the device has the lines at all.
    DWORD error = SetModemLine(TIOCM_DTR, dcb.fDtrControl == DTR_CONTROL_ENABLE);
    if (error == ERROR_SUCCESS && dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
        error = SetModemLine(TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
    if (error != ERROR_SUCCESS && error != ERROR_NOT_SUPPORTED)
        return error;
    m_dcb = dcb;
    return ERROR_SUCCESS;
}

DWORD CCommPort::SetModemLine(int line, bool bOn)
{
    if (ioctl(m_fd, bOn ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return ERROR_SUCCESS;
    return NoModemLines(errno) ? ERROR_NOT_SUPPORTED : ErrnoToWin32(errno);
}

// The kernel's tty buffers have a fixed size; the sizes are only reported back.
DWORD CCommPort::SetQueues(DWORD dwInQueue, DWORD dwOutQueue)
{
    std::lock_guard lock(m_mutex);
    m_dwInQueue = dwInQueue;
    m_dwOutQueue = dwOutQueue;
    return ERROR_SUCCESS;
}

COMMTIMEOUTS CCommPort::Timeouts()
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

DWORD CCommPort::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    // Windows refuses both read multiplier and constant at MAXDWORD with a MAXDWORD interval.
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts.ReadTotalTimeoutConstant == MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(m_mutex);
    m_timeouts = timeouts;
    return ERROR_SUCCESS;
}

DWORD CCommPort::Mask()
{
    std::lock_guard lock(m_mutex);
    return m_dwMask;
}

// Only received characters are ever reported; asking for other events fails
// rather than waiting for something that never comes.
DWORD CCommPort::SetMask(DWORD dwMask)
{
    if (dwMask & ~kKnownEvents)
        return ERROR_INVALID_PARAMETER;
    if (dwMask & ~EV_RXCHAR)
        return ERROR_NOT_SUPPORTED;
    PendingWait wait;
    bool bHadWait = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed)
            return ERROR_INVALID_HANDLE;
        m_dwMask = dwMask;
        bHadWait = TakeWait(m_wait.gen, wait);
    }
    if (bHadWait) {
        KickServer(wait.server);
        *wait.pdwMask = 0;  // published by the completion's release store
        CompleteOverlapped(wait.ov, ERROR_SUCCESS, 0);
    }
    return ERROR_SUCCESS;
}

bool CCommPort::TakeWait(std::uint64_t gen, PendingWait& wait)
{
    if (!m_bWaitPending || m_wait.gen != gen)
        return false;
    wait = m_wait;
    m_bWaitPending = false;
    m_wait = PendingWait{};
    m_wait.gen = gen;
    return true;
}

// Level-triggered: bytes already waiting end the wait at once, so a reader
// that takes only part of them is woken again for the rest. A pending wait is
// served by nobody until its caller waits for it (ServeWait, OnEventWait).
DWORD CCommPort::BeginWait(LPDWORD pdwMask, OVERLAPPED* ov)
{
    DWORD error = ERROR_SUCCESS;
    std::uint64_t gen = 0;
    {
        std::lock_guard lock(m_mutex);
        DWORD events = 0;
        pollfd pfd{m_fd, POLLIN, 0};
        if (m_bClosed)
            return ERROR_INVALID_HANDLE;
        if (m_bWaitPending)
            return ERROR_INVALID_PARAMETER;  // one wait per port, as on Windows
        if (m_dwMask == 0) {
            error = ERROR_INVALID_PARAMETER;
        }
        else if (poll(&pfd, 1, 0) > 0 && Outcome(pfd.revents, events, error)) {
            if (error == ERROR_SUCCESS)
                *pdwMask = events;
        }
        else {
            BeginOverlapped(ov);
            gen = ++m_nextGen;
            m_wait = PendingWait{ov, pdwMask, gen, Server::None};
            m_bWaitPending = true;
            error = ERROR_IO_PENDING;
        }
    }
    if (error != ERROR_IO_PENDING)
        CompleteOverlapped(ov, error, 0);
    else if (auto ev = EventOf(ov))
        ev->SetWaitHook(weak_from_this(), gen);  // outside m_mutex: it may call OnEventWait
    return error;
}

void CCommPort::KickServer(Server server)
{
    if (server == Server::Waiter)
        Signal(m_wakeFd);
    else if (server == Server::Caller)
        Signal(m_callerWakeFd);
}

// What a poll of the tty means for a wait: true with its outcome, false when
// it goes on. A hung-up line still hands over the bytes it had received first.
bool CCommPort::Outcome(short revents, DWORD& events, DWORD& error)
{
    events = 0;
    error = ERROR_SUCCESS;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        int avail = 0;
        if (ioctl(m_fd, FIONREAD, &avail) == 0 && avail > 0)
            events = EV_RXCHAR;
        else
            error = ERROR_DEVICE_NOT_CONNECTED;
        return true;
    }
    if (revents & POLLIN) {
        events = EV_RXCHAR;
        return true;
    }
    return false;
}

// Completes wait gen unless SetCommMask or close has taken it meanwhile.
void CCommPort::EndWait(std::uint64_t gen, DWORD events, DWORD error)
{
    PendingWait wait;
    bool bTaken = false;
    {
        std::lock_guard lock(m_mutex);
        bTaken = TakeWait(gen, wait);
    }
    if (bTaken) {
        *wait.pdwMask = events;  // published by the completion's release store
        CompleteOverlapped(wait.ov, error, 0);
    }
}

// Looks at the line without blocking; true when wait gen ended.
bool CCommPort::EndIfReady(std::uint64_t gen)
{
    pollfd pfd{m_fd, POLLIN, 0};
    DWORD events = 0, error = ERROR_SUCCESS;
    if (poll(&pfd, 1, 0) <= 0 || !Outcome(pfd.revents, events, error))
        return false;
    EndWait(gen, events, error);
    return true;
}

void CCommPort::HandToWaiter(std::uint64_t gen)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bWaitPending || m_wait.gen != gen || m_wait.server != Server::None)
            return;
        m_wait.server = Server::Waiter;
    }
    if (!StartWaiter()) {
        EndWait(gen, 0, ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    m_cvWait.notify_all();
}

// False when the thread cannot be started. A closed port starts none: its
// close has taken the wait already.
bool CCommPort::StartWaiter()
{
    std::lock_guard lock(m_waiterMutex);
    if (m_waiter.joinable() || m_bWaiterRetired)
        return true;
    try {
        m_waiter = std::thread([this] { WaiterLoop(); });
    }
    catch (const std::system_error&) {
        return false;
    }
    return true;
}

// Someone waits on the event rather than in GetOverlappedResult: bytes that
// came already signal it now (a zero time-out sees them), later ones through
// the waiter thread.
void CCommPort::OnEventWait(std::uint64_t gen)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_bWaitPending || m_wait.gen != gen || m_wait.server != Server::None)
            return;
    }
    if (!EndIfReady(gen))
        HandToWaiter(gen);
}

void CCommPort::ServeWait(OVERLAPPED* ov, BOOL bWait)
{
    std::uint64_t gen = 0;
    bool bServe = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed || !m_bWaitPending || m_wait.ov != ov || m_wait.server != Server::None)
            return;
        gen = m_wait.gen;
        if (bWait && !m_bCallerServing) {
            m_wait.server = Server::Caller;
            m_bCallerServing = true;
            bServe = true;
        }
    }
    if (bServe)
        ServeOnCaller(gen);
    else if (!EndIfReady(gen) && bWait)
        HandToWaiter(gen);  // a thread still serves an older wait: the event carries this one
}

// Polls the tty and m_callerWakeFd until wait gen ends: by the line here, or
// by SetCommMask or close, which kick m_callerWakeFd after taking the wait.
// Only this thread drains that fd (m_bCallerServing), so no kick is lost.
void CCommPort::ServeOnCaller(std::uint64_t gen)
{
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_callerWakeFd, POLLIN, 0}};
    bool bFailed = false;
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            bFailed = true;
            break;
        }
        if (fds[1].revents & POLLIN)
            Drain(m_callerWakeFd);
        DWORD events = 0, error = ERROR_SUCCESS;
        if (Outcome(fds[0].revents, events, error)) {
            EndWait(gen, events, error);
            break;
        }
        std::lock_guard lock(m_mutex);
        if (!m_bWaitPending || m_wait.gen != gen)
            break;
    }
    {
        std::lock_guard lock(m_mutex);
        m_bCallerServing = false;
        if (bFailed && m_bWaitPending && m_wait.gen == gen)
            m_wait.server = Server::None;  // out of resources: leave it to the waiter
    }
    if (bFailed)
        HandToWaiter(gen);
}

// Serves the waits handed to it, one at a time: poll the tty and the wake
// eventfd, then complete the wait if it is still the one polled for
// (SetCommMask or close may have taken it meanwhile). Sleeps on the condition
// variable otherwise, so a readable or hung-up tty never makes it spin.
void CCommPort::WaiterLoop()
{
    for (;;) {
        std::uint64_t gen = 0;
        {
            std::unique_lock lock(m_mutex);
            m_cvWait.wait(lock, [this] { return m_bClosed || (m_bWaitPending && m_wait.server == Server::Waiter); });
            if (m_bClosed)
                return;
            gen = m_wait.gen;
        }
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;  // EINTR
        if (fds[1].revents & POLLIN)
            Drain(m_wakeFd);
        DWORD events = 0, error = ERROR_SUCCESS;
        if (Outcome(fds[0].revents, events, error))
            EndWait(gen, events, error);
    }
}

CCommPort::Wake CCommPort::WaitFor(short events, Clock::time_point deadline, bool bRead)
{
    Blocked blocked{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), bRead, false};
    if (blocked.efd < 0)
        return Wake::NoResources;
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed) {
            close(blocked.efd);
            return Wake::Aborted;
        }
        m_blocked.push_back(&blocked);
    }
    pollfd fds[2] = {{m_fd, events, 0}, {blocked.efd, POLLIN, 0}};
    int ready = 0;
    do
        ready = poll(fds, 2, MillisecondsUntil(deadline));
    while (ready < 0 && errno == EINTR);
    bool bAborted = false;
    {
        std::lock_guard lock(m_mutex);
        m_blocked.erase(std::find(m_blocked.begin(), m_blocked.end(), &blocked));
        bAborted = blocked.bAborted;
    }
    close(blocked.efd);
    if (bAborted)
        return Wake::Aborted;
    if (ready <= 0)
        return Wake::Timeout;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & events))
        return Wake::Hangup;
    return Wake::Ready;
}

void CCommPort::AbortBlocked(bool bReads, bool bWrites)
{
    for (Blocked* blocked : m_blocked) {
        if (blocked->bRead ? bReads : bWrites) {
            blocked->bAborted = true;
            Signal(blocked->efd);
        }
    }
}

// Windows' read time-outs: MAXDWORD/0/0 returns at once with what has
// arrived; MAXDWORD/MAXDWORD/c returns with the first bytes or after c ms;
// otherwise a total budget of multiplier * count + constant (none when both
// are 0) and an interval limit between bytes once the first has come.
DWORD CCommPort::Read(std::uint8_t* pBytes, DWORD dwCount, DWORD& dwDone)
{
    dwDone = 0;
    if (dwCount == 0)
        return ERROR_SUCCESS;
    const COMMTIMEOUTS t = Timeouts();
    const bool bNoWait =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool bFirstBytes = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD;
    Clock::time_point total = kNoDeadline;
    if (bFirstBytes)
        total = After(t.ReadTotalTimeoutConstant);
    else if (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant)
        total = After(std::uint64_t{t.ReadTotalTimeoutMultiplier} * dwCount + t.ReadTotalTimeoutConstant);
    const DWORD interval = (bFirstBytes || t.ReadIntervalTimeout == MAXDWORD) ? 0 : t.ReadIntervalTimeout;
    Clock::time_point lastByte{};

    while (dwDone < dwCount) {
        const ssize_t n = read(m_fd, pBytes + dwDone, dwCount - dwDone);
        if (n > 0) {
            // A read that held only part of an error mark gives no byte yet.
            const DWORD dwKept = Unmark(pBytes + dwDone, static_cast<DWORD>(n));
            dwDone += dwKept;
            if (bFirstBytes && dwDone != 0)
                break;
            if (dwKept != 0)
                lastByte = Clock::now();
            continue;
        }
        if (n == 0)  // end of file on a tty: the line hung up
            return dwDone ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return ErrnoToWin32(errno);
        if (bNoWait)
            break;
        Clock::time_point deadline = total;
        if (interval && dwDone)
            deadline = std::min(deadline, lastByte + std::chrono::milliseconds(interval));
        if (deadline != kNoDeadline && Clock::now() >= deadline)
            break;
        switch (WaitFor(POLLIN, deadline, true)) {
        case Wake::Ready: break;
        case Wake::Timeout: return ERROR_SUCCESS;
        case Wake::Aborted: return ERROR_OPERATION_ABORTED;
        case Wake::Hangup: return dwDone ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED;
        case Wake::NoResources: return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    return ERROR_SUCCESS;
}

// A write ends when all bytes are with the driver or when the total budget
// (multiplier * count + constant, none when both are 0) runs out; a time-out
// is a success with the count written so far, as on Windows.
DWORD CCommPort::Write(const std::uint8_t* pBytes, DWORD dwCount, DWORD& dwDone)
{
    dwDone = 0;
    const COMMTIMEOUTS t = Timeouts();
    Clock::time_point total = kNoDeadline;
    if (t.WriteTotalTimeoutMultiplier || t.WriteTotalTimeoutConstant)
        total = After(std::uint64_t{t.WriteTotalTimeoutMultiplier} * dwCount + t.WriteTotalTimeoutConstant);
    while (dwDone < dwCount) {
        const ssize_t n = write(m_fd, pBytes + dwDone, dwCount - dwDone);
        if (n > 0) {
            dwDone += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return ErrnoToWin32(errno);
        if (total != kNoDeadline && Clock::now() >= total)
            break;
        switch (WaitFor(POLLOUT, total, false)) {
        case Wake::Ready: break;
        case Wake::Timeout: return ERROR_SUCCESS;
        case Wake::Aborted: return ERROR_OPERATION_ABORTED;
        case Wake::Hangup: return ERROR_DEVICE_NOT_CONNECTED;
        case Wake::NoResources: return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    return ERROR_SUCCESS;
}

// Reads run one at a time (one OVERLAPPED per direction); the lock is for a
// SetCommState or purge on another thread.
DWORD CCommPort::Unmark(std::uint8_t* pBytes, DWORD dwCount)
{
    std::lock_guard lock(m_mutex);
    if (!m_bMarked)
        return dwCount;
    DWORD dwMarked = 0;
    const DWORD dwKept = UnmarkInput(m_marked, pBytes, dwCount, dwMarked);
    if (dwMarked != 0)
        m_dwLineErrors |= CE_RXPARITY;  // the tty marks framing errors alike
    m_dwMarks += dwMarked;
    return dwKept;
}

// The UART's parity, framing and overrun counts (TIOCGICOUNT); false for a
// pty or a driver that keeps none.
bool CCommPort::ReadCounts(LineCounts& counts) const
{
#ifdef TIOCGICOUNT
    serial_icounter_struct icount{};
    if (ioctl(m_fd, TIOCGICOUNT, &icount) != 0)
        return false;
    counts.dwParity = static_cast<DWORD>(icount.parity);
    counts.dwFrame = static_cast<DWORD>(icount.frame);
    counts.dwOverrun = static_cast<DWORD>(icount.overrun);
    counts.dwBufferOverrun = static_cast<DWORD>(icount.buf_overrun);
    return true;
#else
    (void)counts;
    return false;
#endif
}

// The marks say parity or framing; the driver's counts, where it keeps them,
// also tell framing errors and overruns apart.
DWORD CCommPort::TakeLineErrors()
{
    std::lock_guard lock(m_mutex);
    DWORD dwErrors = m_dwLineErrors;
    m_dwLineErrors = 0;
    LineCounts now;
    if (m_bCounted && ReadCounts(now)) {
        dwErrors |= LineErrorFlags(m_countsTaken, now);
        m_countsTaken = now;
    }
    return dwErrors;
}

SERIALPERF_STATS CCommPort::Stats()
{
    std::lock_guard lock(m_mutex);
    LineCounts now;
    const bool bCounted = m_bCounted && ReadCounts(now);
    return LineStats(bCounted, m_countsAtOpen, now, m_dwMarks);
}

DWORD CCommPort::Status(COMSTAT& stat)
{
    int inQueue = 0, outQueue = 0;
    if (ioctl(m_fd, FIONREAD, &inQueue) != 0 || ioctl(m_fd, TIOCOUTQ, &outQueue) != 0)
        return ErrnoToWin32(errno);
    stat = COMSTAT{};
    stat.cbInQue = static_cast<DWORD>(std::max(inQueue, 0));
    stat.cbOutQue = static_cast<DWORD>(std::max(outQueue, 0));
    return ERROR_SUCCESS;
}

// The abort flags end blocked reads or writes; a pending event wait is not a
// read and stays, as on Windows.
DWORD CCommPort::Purge(DWORD dwFlags)
{
    if (dwFlags & ~kPurgeFlags)
        return ERROR_INVALID_PARAMETER;
    if (dwFlags & (PURGE_TXABORT | PURGE_RXABORT)) {
        std::lock_guard lock(m_mutex);
        AbortBlocked((dwFlags & PURGE_RXABORT) != 0, (dwFlags & PURGE_TXABORT) != 0);
    }
    const bool bRx = (dwFlags & PURGE_RXCLEAR) != 0, bTx = (dwFlags & PURGE_TXCLEAR) != 0;
    if ((bRx || bTx) && tcflush(m_fd, bRx && bTx ? TCIOFLUSH : bRx ? TCIFLUSH : TCOFLUSH) != 0)
        return ErrnoToWin32(errno);
    if (bRx) {
        std::lock_guard lock(m_mutex);
        m_marked = MarkedInput{};  // the rest of a cut mark went with the queue
    }
    return ERROR_SUCCESS;
}

// Explicit modem-line requests fail on a device without the lines (a pty):
// the caller asked for something that cannot happen.
DWORD CCommPort::Escape(DWORD dwFunc)
{
    int rc = 0;
    switch (dwFunc) {
    case SETXOFF: rc = tcflow(m_fd, TCOOFF); break;
    case SETXON: rc = tcflow(m_fd, TCOON); break;
    case SETRTS: return SetModemLine(TIOCM_RTS, true);
    case CLRRTS: return SetModemLine(TIOCM_RTS, false);
    case SETDTR: return SetModemLine(TIOCM_DTR, true);
    case CLRDTR: return SetModemLine(TIOCM_DTR, false);
    case SETBREAK: rc = ioctl(m_fd, TIOCSBRK); break;
    case CLRBREAK: rc = ioctl(m_fd, TIOCCBRK); break;
    case RESETDEV: return ERROR_NOT_SUPPORTED;
    default: return ERROR_INVALID_PARAMETER;
    }
    return rc == 0 ? ERROR_SUCCESS : ErrnoToWin32(errno);
}

// A pty has no modem lines; it answers as a null-modem cable with the other
// side present would, so that callers waiting for CTS or DSR proceed.
DWORD CCommPort::ModemStatus(DWORD& dwStatus)
{
    int lines = 0;
    if (ioctl(m_fd, TIOCMGET, &lines) != 0) {
        if (!NoModemLines(errno))
            return ErrnoToWin32(errno);
        lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    }
    dwStatus = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
               ((lines & TIOCM_RI) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
    return ERROR_SUCCESS;
}

void CCommPort::Properties(COMMPROP& prop)
{
    constexpr DWORD kCapabilities =
        PCF_RTSCTS | PCF_PARITY_CHECK | PCF_XONXOFF | PCF_SETXCHAR | PCF_TOTALTIMEOUTS | PCF_INTTIMEOUTS;
    constexpr DWORD kSettable = SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS | SP_HANDSHAKING | SP_PARITY_CHECK;
    constexpr WORD kDataBits = DATABITS_5 | DATABITS_6 | DATABITS_7 | DATABITS_8;
    constexpr WORD kStopParity =
        STOPBITS_10 | STOPBITS_20 | PARITY_NONE | PARITY_ODD | PARITY_EVEN | PARITY_MARK | PARITY_SPACE;
    std::lock_guard lock(m_mutex);
    prop = COMMPROP{};
    prop.wPacketLength = sizeof(COMMPROP);
    prop.wPacketVersion = 2;
    prop.dwServiceMask = SP_SERIALCOMM;
    prop.dwMaxTxQueue = 0;  // no fixed limit
    prop.dwMaxRxQueue = 0;
    prop.dwMaxBaud = BAUD_USER;
    prop.dwProvSubType = kProviderRs232;
    prop.dwProvCapabilities = kCapabilities;
    prop.dwSettableParams = kSettable;
    prop.dwSettableBaud = SettableBaudMask();
    prop.wSettableData = kDataBits;
    prop.wSettableStopParity = kStopParity;
    prop.dwCurrentTxQueue = m_dwOutQueue;
    prop.dwCurrentRxQueue = m_dwInQueue;
}

}  // namespace win32posix
