#include "tools/station-sim/StationLine.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_bSignalled = 0;

void OnSignal(int) { g_bSignalled = 1; }

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The stop signals stay blocked except inside ppoll, so one that arrives
// between the check of g_bSignalled and the wait still ends the wait.
void InstallSignals(sigset_t* pWaitMask)
{
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigset_t block;
    sigemptyset(&block);
    for (int sig : kStopSignals) {
        sigaction(sig, &sa, nullptr);
        sigaddset(&block, sig);
    }
    signal(SIGPIPE, SIG_IGN);
    sigprocmask(SIG_BLOCK, &block, pWaitMask);
    for (int sig : kStopSignals)
        sigdelset(pWaitMask, sig);
}

std::uint64_t NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

bool SpeedFor(std::uint32_t dwBaud, speed_t* pSpeed)
{
    static const std::pair<std::uint32_t, speed_t> kSpeeds[] = {
        {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
        {38400, B38400},     {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
        {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1500000, B1500000},
        {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
    };
    for (const auto& [dwRate, speed] : kSpeeds)
        if (dwRate == dwBaud) {
            *pSpeed = speed;
            return true;
        }
    return false;
}

// Raw 8E1 without flow control; CLOCAL so that a missing carrier on a real
// device neither blocks the open nor hangs the line up.
bool MakeRaw(int fd, speed_t speed)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void Complain(const char* pszWhat, const std::string& path)
{
    std::fprintf(stderr, "tcc-station-sim: %s %s: %s\n", pszWhat, path.c_str(), std::strerror(errno));
}

}  // namespace

CStationLine::CStationLine(const LineOptions& options) : m_options(options)
{
    const std::uint32_t dwBaud = std::max<std::uint32_t>(options.dwBaud, 1);
    m_qwByteNs = 11ull * 1000000000ull / dwBaud;
    m_dwSliceBytes = options.dwSliceBytes ? options.dwSliceBytes : std::max<std::uint32_t>(1, dwBaud / 11 / 500);
}

CStationLine::~CStationLine() { Close(); }

bool CStationLine::Open() { return m_options.strDevice.empty() ? OpenPty() : OpenDevice(); }

bool CStationLine::OpenPty()
{
    m_fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_fd < 0 || grantpt(m_fd) != 0 || unlockpt(m_fd) != 0) {
        Complain("cannot create a pty", "");
        return false;
    }
    const char* pszSlave = ptsname(m_fd);
    if (pszSlave == nullptr) {
        Complain("cannot name the pty", "");
        return false;
    }
    m_strPath = pszSlave;
    m_fdSlave = open(pszSlave, O_RDWR | O_NOCTTY);
    speed_t speed = B115200;
    SpeedFor(m_options.dwBaud, &speed);
    if (m_fdSlave < 0 || !MakeRaw(m_fdSlave, speed)) {
        Complain("cannot set up", m_strPath);
        return false;
    }
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    if (!m_options.strLink.empty()) {
        struct stat st {};
        if (lstat(m_options.strLink.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(m_options.strLink.c_str());  // left over from a run that was killed
        if (symlink(m_strPath.c_str(), m_options.strLink.c_str()) != 0) {
            Complain("cannot create the link", m_options.strLink);
            return false;
        }
        m_bLinked = true;
    }
    return true;
}

bool CStationLine::OpenDevice()
{
    m_strPath = m_options.strDevice;
    speed_t speed{};
    if (!SpeedFor(m_options.dwBaud, &speed)) {
        std::fprintf(stderr, "tcc-station-sim: %u baud is not a rate the serial driver knows\n", m_options.dwBaud);
        return false;
    }
    m_fd = open(m_strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        Complain("cannot open", m_strPath);
        return false;
    }
    if (!MakeRaw(m_fd, speed)) {
        Complain("cannot configure", m_strPath);
        return false;
    }
    tcflush(m_fd, TCIOFLUSH);
    return true;
}

void CStationLine::Close()
{
    if (m_bLinked)
        unlink(m_options.strLink.c_str());
    m_bLinked = false;
    if (m_fdSlave >= 0)
        close(m_fdSlave);
    if (m_fd >= 0)
        close(m_fd);
    m_fdSlave = m_fd = -1;
}

// The next action is taken once the frame before it is on the line and any
// stall is over; until then the line is read and written as it is due.
int CStationLine::Serve(CStationSim& sim)
{
    sigset_t waitMask;
    InstallSignals(&waitMask);
    while (!g_bSignalled) {
        const std::uint64_t now = NowNs();
        SimAction action;
        const int nExit = m_pending.empty() && now >= m_qwQuietUntilNs && sim.Next(action)
                              ? Perform(sim, action, now)
                              : PollLine(sim, now, waitMask);
        if (nExit >= 0)
            return nExit;
    }
    return 0;
}

// Returns -1 to go on serving, else the exit status.
int CStationLine::Perform(CStationSim& sim, SimAction& action, std::uint64_t now)
{
    switch (action.nKind) {
    case SimAction::BYTES:
        m_pending = std::move(action.bytes);
        m_nWritten = 0;
        break;
    case SimAction::STALL:
        if (m_options.bVerbose)
            std::fprintf(stderr, "tcc-station-sim: stalling %u ms\n", action.dwMs);
        m_qwQuietUntilNs = now + action.dwMs * 1000000ull;
        m_qwLineFreeNs = std::max(m_qwLineFreeNs, m_qwQuietUntilNs);
        break;
    case SimAction::CLOSE:
        std::fprintf(stderr, "tcc-station-sim: closing the line mid-transfer\n");
        Close();
        return 0;
    case SimAction::SERVED:
        ReportServed(sim);
        if (m_options.bOnce) {
            DrainToHost();
            return 0;
        }
        break;
    }
    return -1;
}

// Waits for input, for room when output is due, or for the next slice's or
// the stall's end. Due output waits for room in the line's buffer, with no
// timeout. Returns -1 to go on serving, else the exit status.
int CStationLine::PollLine(CStationSim& sim, std::uint64_t now, const sigset_t& waitMask)
{
    pollfd pfd{m_fd, POLLIN, 0};
    const std::int64_t waitNs = NextWakeNs(now);
    if (waitNs == 0)
        pfd.events |= POLLOUT;
    timespec ts{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
    const int n = ppoll(&pfd, 1, waitNs <= 0 ? nullptr : &ts, &waitMask);
    if (n < 0 && errno != EINTR) {
        Complain("cannot wait on", m_strPath);
        return 1;
    }
    if (n <= 0)
        return -1;
    if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) {
        ReadLine(sim);
        if (m_fd < 0)
            return 1;
    }
    if ((pfd.revents & POLLOUT) && !WriteDue(NowNs()))
        return 1;
    return -1;
}

// Nanoseconds until something is due: 0 when the next slice may be written
// now, -1 when only input can move things on.
std::int64_t CStationLine::NextWakeNs(std::uint64_t now)
{
    if (m_pending.empty())
        return m_qwQuietUntilNs > now ? static_cast<std::int64_t>(m_qwQuietUntilNs - now) : -1;
    if (!m_options.bPaced)
        return 0;
    if (m_qwSliceStartNs == 0) {
        m_qwSliceStartNs = m_qwLineFreeNs;
        m_nSliceLen = std::min<std::size_t>(m_dwSliceBytes, m_pending.size() - m_nWritten);
    }
    // A slice is handed over once its last byte would have crossed the line.
    const std::uint64_t due = m_qwSliceStartNs + m_nSliceLen * m_qwByteNs;
    return due > now ? static_cast<std::int64_t>(due - now) : 0;
}

bool CStationLine::WriteDue(std::uint64_t now)
{
    const std::size_t nWant = m_options.bPaced ? m_nSliceLen : m_pending.size() - m_nWritten;
    const ssize_t n = write(m_fd, m_pending.data() + m_nWritten, nWant);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        Complain("cannot write to", m_strPath);
        return false;
    }
    m_nWritten += static_cast<std::size_t>(n);
    if (m_options.bPaced) {
        m_qwLineFreeNs = m_qwSliceStartNs + static_cast<std::uint64_t>(n) * m_qwByteNs;
        m_qwSliceStartNs = 0;
    }
    else {
        m_qwLineFreeNs = now;
    }
    if (m_nWritten == m_pending.size()) {
        m_pending.clear();
        m_nWritten = 0;
    }
    return true;
}

void CStationLine::ReadLine(CStationSim& sim)
{
    std::uint8_t buf[4096];
    const ssize_t n = read(m_fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        // With the slave held open a pty master does not get here; a device
        // that went away does.
        Complain("the line closed:", m_strPath);
        Close();
        return;
    }
    if (n < 0)
        return;
    sim.OnReceive(buf, static_cast<std::size_t>(n));
    if (sim.Requests() != m_dwSeenRequests) {
        // An answer starts once its request is in, never earlier; within a
        // stream the clock is not reset, so a late wake-up is made up.
        m_dwSeenRequests = sim.Requests();
        m_qwLineFreeNs = std::max(m_qwLineFreeNs, NowNs());
    }
    if (sim.Retrievals() != m_dwSeenRetrievals) {
        m_dwSeenRetrievals = sim.Retrievals();
        // A new client: what an earlier one left unread would reach it ahead
        // of the size response.
        tcflush(m_fdSlave >= 0 ? m_fdSlave : m_fd, TCIFLUSH);
        if (m_options.bVerbose)
            std::fprintf(stderr, "tcc-station-sim: size request\n");
    }
    const SimStats& stats = sim.Stats();
    if (m_options.bVerbose && (stats.dwBadFrames != m_dwBadSeen || stats.dwIgnored != m_dwIgnoredSeen))
        std::fprintf(stderr, "tcc-station-sim: ignored %u bad and %u unknown host frames\n",
                     stats.dwBadFrames - m_dwBadSeen, stats.dwIgnored - m_dwIgnoredSeen);
    m_dwBadSeen = stats.dwBadFrames;
    m_dwIgnoredSeen = stats.dwIgnored;
}

// Closing the master hangs the slave up and discards what the host has not
// read yet. A write to the master reaches the slave's input queue through a
// kernel work item, so an empty queue is believed only once it has stayed
// empty for a while (bounded: a host that never reads does not keep us).
void CStationLine::DrainToHost()
{
    if (m_fdSlave < 0) {
        tcdrain(m_fd);
        return;
    }
    constexpr int kPollMs = 5;
    constexpr int kQuietPolls = 100;  // 500 ms without a queued byte
    constexpr int kMaxPolls = 4000;   // 20 s at most
    int nQuiet = 0;
    for (int i = 0; i < kMaxPolls && nQuiet < kQuietPolls && !g_bSignalled; ++i) {
        int nQueued = 0;
        if (ioctl(m_fdSlave, FIONREAD, &nQueued) != 0)
            return;
        nQuiet = nQueued == 0 ? nQuiet + 1 : 0;
        usleep(kPollMs * 1000);
    }
}

void CStationLine::ReportServed(CStationSim& sim)
{
    const SimStats& stats = sim.Stats();
    ++m_dwServed;
    std::string flips;
    if (sim.FlipsBits())
        flips = ", " + std::to_string(stats.dwFlips) + " bits flipped";
    std::fprintf(stderr, "tcc-station-sim: served %zu bytes (wire: %llu bytes sent, %llu received)%s\n",
                 sim.Image().size(), static_cast<unsigned long long>(stats.qwWireSent),
                 static_cast<unsigned long long>(stats.qwWireReceived), flips.c_str());
    sim.ResetStats();
    m_dwBadSeen = m_dwIgnoredSeen = 0;
}
