// DCB settings reach the tty (as tcgetattr sees it) and come back unchanged.
#include "PtyPort.h"

#include "serial/posix/LineSettings.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

namespace {

struct LineCase {
    const char* name;
    DWORD baud;
    BYTE parity;
    BYTE byteSize;
    BYTE stopBits;
    bool rtscts;
    bool xonxoff;
    speed_t speed;
    tcflag_t cflagWanted;  // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS
};

constexpr tcflag_t kLineBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

const LineCase kLineCases[] = {
    {"Even8N1_9600", 9600, EVENPARITY, 8, ONESTOPBIT, false, false, B9600, CS8 | PARENB},
    {"None8_115200", 115200, NOPARITY, 8, ONESTOPBIT, false, false, B115200, CS8},
    {"Odd7Two_19200", 19200, ODDPARITY, 7, TWOSTOPBITS, false, false, B19200, CS7 | PARENB | PARODD | CSTOPB},
    {"Mark6_57600", 57600, MARKPARITY, 6, ONESTOPBIT, false, false, B57600, CS6 | PARENB | PARODD | CMSPAR},
    {"Space5_38400", 38400, SPACEPARITY, 5, ONESTOPBIT, false, false, B38400, CS5 | PARENB | CMSPAR},
    {"RtsCts_230400", 230400, NOPARITY, 8, ONESTOPBIT, true, false, B230400, CS8 | CRTSCTS},
    {"XonXoff_1200", 1200, EVENPARITY, 8, ONESTOPBIT, false, true, B1200, CS8 | PARENB},
    {"XonXoffNone_4800", 4800, NOPARITY, 8, ONESTOPBIT, false, true, B4800, CS8},
    {"TwoStop_921600", 921600, NOPARITY, 8, TWOSTOPBITS, true, false, B921600, CS8 | CSTOPB | CRTSCTS},
};

class LineSettingsTest : public PtyPortTest, public ::testing::WithParamInterface<LineCase> {};

DCB CurrentState(HANDLE h)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    EXPECT_TRUE(GetCommState(h, &dcb));
    return dcb;
}

// Recent Linux ptys force CS8 and drop PARENB whatever tcsetattr asked for;
// older ones keep them. Asked of a spare pty, so the test knows which it has.
bool PtyKeepsLineFormat()
{
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return false;
    termios t{};
    tcgetattr(slave, &t);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB;
    tcsetattr(slave, TCSANOW, &t);
    tcgetattr(slave, &t);
    close(master);
    close(slave);
    return (t.c_cflag & (CSIZE | PARENB)) == (CS7 | PARENB);
}

// The case's line on top of the port's current DCB.
DCB CaseDcb(const LineCase& c, const DCB& before)
{
    DCB dcb = before;
    dcb.BaudRate = c.baud;
    dcb.Parity = c.parity;
    dcb.ByteSize = c.byteSize;
    dcb.StopBits = c.stopBits;
    dcb.fParity = c.parity != NOPARITY;
    dcb.fOutxCtsFlow = c.rtscts;
    dcb.fRtsControl = c.rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = c.xonxoff;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 100;  // no termios form: kept by the driver
    dcb.XoffLim = 77;
    dcb.EvtChar = 0x7E;
    return dcb;
}

TEST_P(LineSettingsTest, ReachTheTtyAndReadBackOrAreRefusedWhole)
{
    const LineCase& c = GetParam();
    const DCB before = CurrentState(m_hComm);
    const termios lineBefore = LineSeen();
    DCB dcb = CaseDcb(c, before);
    const bool bPtyCanHoldIt = (c.parity == NOPARITY && c.byteSize == 8) || PtyKeepsLineFormat();

    if (!bPtyCanHoldIt) {
        SetLastError(0);
        EXPECT_FALSE(SetCommState(m_hComm, &dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        const termios lineAfter = LineSeen();
        EXPECT_EQ(lineAfter.c_cflag, lineBefore.c_cflag) << "restored";
        EXPECT_EQ(lineAfter.c_iflag, lineBefore.c_iflag) << "restored";
        const DCB after = CurrentState(m_hComm);
        EXPECT_EQ(std::memcmp(&after, &before, sizeof after), 0);
        return;
    }
    ASSERT_TRUE(SetCommState(m_hComm, &dcb)) << GetLastError();
    const termios t = LineSeen();
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & kLineBits, c.cflagWanted);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parity != NOPARITY);
    EXPECT_EQ((t.c_iflag & PARMRK) != 0, c.parity != NOPARITY) << "errors marked, not zeroed";
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.xonxoff);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.xonxoff);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG)) << "raw mode";

    const DCB back = CurrentState(m_hComm);
    EXPECT_EQ(std::memcmp(&back, &dcb, sizeof dcb), 0);
}

void ExpectSameSettings(const termios& after, const termios& before)
{
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

// A mistyped port may be someone's terminal: closing it gives the tty back
// the settings it had before the port opened, whatever was set meanwhile.
TEST_P(LineSettingsTest, CloseGivesTheTtyItsOwnSettingsBack)
{
    DCB dcb = CaseDcb(GetParam(), CurrentState(m_hComm));
    SetCommState(m_hComm, &dcb);  // taken or refused whole, the close puts back the same
    ASSERT_TRUE(CloseHandle(m_hComm));
    m_hComm = INVALID_HANDLE_VALUE;
    ExpectSameSettings(LineSeen(), m_lineAtOpen);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineSettingsTest, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Opens the tty as the port, under a limit on descriptors that leaves
// nSpare free beside the port's own: the driver's wake events then find none
// (nSpare 0: the first is refused, 1: the second). Returns the handle.
HANDLE OpenWithSpareDescriptors(const std::string& path, int nSpare)
{
    rlimit old{};
    EXPECT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    const int nNext = open("/dev/null", O_RDONLY);  // the lowest free number: the port's
    close(nNext);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(nNext + 1 + nSpare);
    EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    return h;
}

// However the driver's hold on a tty ends, the tty is left as it was found
// (a terminal's own cooked settings here): after a close, and after an open
// that failed once the line had been made raw. No exclusive claim is left
// either, or the tty's owner could not open it again.
TEST(LineSettingsEnds, EveryEndLeavesTheTtyAsItWasFound)
{
    const struct {
        const char* pszName;
        int nSpare;  // -1: the port opens and is closed
    } cases[] = {{"closed", -1}, {"first wake event refused", 0}, {"second wake event refused", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios found{};
        ASSERT_EQ(tcgetattr(slave, &found), 0);
        const HANDLE h = OpenWithSpareDescriptors(ttyname(slave), c.nSpare < 0 ? 8 : c.nSpare);
        EXPECT_EQ(h == INVALID_HANDLE_VALUE, c.nSpare >= 0);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        termios after{};
        ASSERT_EQ(tcgetattr(slave, &after), 0);
        ExpectSameSettings(after, found);
        int nExclusive = -1;
        EXPECT_EQ(ioctl(slave, TIOCGEXCL, &nExclusive), 0);
        EXPECT_EQ(nExclusive, 0) << "TIOCEXCL left set";
        close(master);
        close(slave);
    }
}

// The translation alone, on a termios record: every format, whatever a pty keeps.
TEST(LineSettingsMap, DcbToTermiosAndBack)
{
    for (const LineCase& c : kLineCases) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = c.baud;
        dcb.Parity = c.parity;
        dcb.ByteSize = c.byteSize;
        dcb.StopBits = c.stopBits;
        dcb.fParity = 1;
        dcb.fOutxCtsFlow = c.rtscts;
        dcb.fRtsControl = c.rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        dcb.fOutX = dcb.fInX = c.xonxoff;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        termios t{};
        cfmakeraw(&t);
        t.c_cflag |= CRTSCTS | PARODD;  // stale bits the translation must clear
        ASSERT_EQ(win32posix::ApplyDcb(dcb, t), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(t.c_cflag & kLineBits, c.cflagWanted) << c.name;
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.name;
        EXPECT_TRUE(t.c_iflag & INPCK) << c.name;
        const DCB back = win32posix::DcbFromTermios(t);
        EXPECT_EQ(back.BaudRate, c.baud) << c.name;
        EXPECT_EQ(back.Parity, c.parity) << c.name;
        EXPECT_EQ(back.ByteSize, c.byteSize) << c.name;
        EXPECT_EQ(back.StopBits, c.stopBits) << c.name;
        EXPECT_EQ(back.fOutxCtsFlow, dcb.fOutxCtsFlow) << c.name;
        EXPECT_EQ(back.fOutX, dcb.fOutX) << c.name;
    }
}

struct RefusedCase {
    const char* name;
    void (*change)(DCB&);
};

const RefusedCase kRefused[] = {
    {"UnknownBaud", [](DCB& d) { d.BaudRate = 12345; }},
    {"ZeroBaud", [](DCB& d) { d.BaudRate = 0; }},
    {"OneAndHalfStopBits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
    {"NineDataBits", [](DCB& d) { d.ByteSize = 9; }},
    {"FourDataBits", [](DCB& d) { d.ByteSize = 4; }},
    {"ParityCodeFive", [](DCB& d) { d.Parity = 5; }},
    {"DsrOutputFlow", [](DCB& d) { d.fOutxDsrFlow = 1; }},
    {"DtrHandshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }},
    {"RtsToggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }},
    {"DiscardNulls", [](DCB& d) { d.fNull = 1; }},
    {"SameXonXoffChars",
     [](DCB& d) {
         d.fOutX = 1;
         d.XonChar = d.XoffChar = 0x11;
     }},
    {"ShortDcbLength", [](DCB& d) { d.DCBlength = 27; }},
};

class RefusedSettingsTest : public PtyPortTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedSettingsTest, FailAndLeaveTheLineAsItWas)
{
    const DCB before = CurrentState(m_hComm);
    const termios lineBefore = LineSeen();
    DCB dcb = before;
    GetParam().change(dcb);
    SetLastError(0);
    EXPECT_FALSE(SetCommState(m_hComm, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const DCB after = CurrentState(m_hComm);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);
    const termios lineAfter = LineSeen();
    EXPECT_EQ(lineAfter.c_cflag, lineBefore.c_cflag);
    EXPECT_EQ(lineAfter.c_iflag, lineBefore.c_iflag);
}

INSTANTIATE_TEST_SUITE_P(Dcb, RefusedSettingsTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PtyPortTest, ConfigCarriesTheDcbAndReportsItsSize)
{
    DWORD size = 1;
    COMMCONFIG cc{};
    EXPECT_FALSE(GetCommConfig(m_hComm, &cc, &size));
    EXPECT_EQ(size, sizeof(COMMCONFIG));
    ASSERT_TRUE(GetCommConfig(m_hComm, &cc, &size));
    cc.dcb.BaudRate = 38400;
    ASSERT_TRUE(SetCommConfig(m_hComm, &cc, size));
    const termios line = LineSeen();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
    EXPECT_EQ(CurrentState(m_hComm).BaudRate, 38400u);
}

TEST_F(PtyPortTest, PropertiesDescribeWhatCanBeSet)
{
    ASSERT_TRUE(SetupComm(m_hComm, 4096, 2048));
    COMMPROP prop{};
    ASSERT_TRUE(GetCommProperties(m_hComm, &prop));
    EXPECT_EQ(prop.wPacketLength, sizeof(COMMPROP));
    EXPECT_EQ(prop.dwCurrentRxQueue, 4096u);
    EXPECT_EQ(prop.dwCurrentTxQueue, 2048u);
    EXPECT_TRUE(prop.dwSettableBaud & 0x00020000) << "115200";
    EXPECT_TRUE(prop.dwSettableBaud & 0x00000800) << "9600";
    EXPECT_EQ(prop.wSettableData, 0x000F);
}

TEST_F(PtyPortTest, TimeoutsReadBackAsSet)
{
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 1000};
    ASSERT_TRUE(SetCommTimeouts(m_hComm, &t));
    COMMTIMEOUTS back{};
    ASSERT_TRUE(GetCommTimeouts(m_hComm, &back));
    EXPECT_EQ(std::memcmp(&t, &back, sizeof t), 0);
}

// A driver may report the rate its divisor really gives rather than the one
// asked for; a UART copes with 2% either way, so that much is no refusal.
TEST(LineSettingsRate, ReadBackWithinTheUartToleranceIsTaken)
{
    struct RateCase {
        DWORD wanted;
        DWORD got;
        bool bTaken;
    };
    const RateCase cases[] = {
        {115200, 115200, true}, {115200, 115384, true},  {115200, 112896, true},
        {115200, 117504, true}, {115200, 117505, false}, {115200, 112895, false},
        {9600, 9615, true},     {57600, 115200, false},  {115200, 0, false},
    };
    for (const RateCase& c : cases)
        EXPECT_EQ(win32posix::RateWithinTolerance(c.wanted, c.got), c.bTaken) << c.wanted << " " << c.got;

    termios wanted{}, got{};
    cfmakeraw(&wanted);
    cfsetspeed(&wanted, B115200);
    got = wanted;
    EXPECT_TRUE(win32posix::LineSettingsTook(wanted, got));
    cfsetspeed(&got, B57600);
    EXPECT_FALSE(win32posix::LineSettingsTook(wanted, got));
}

// The marks as the tty writes them with INPCK | PARMRK, cut into two reads at
// every place: the bytes come out once each, marked ones counted.
TEST(LineSettingsMarks, UnmarkedAcrossEveryCut)
{
    struct MarkCase {
        const char* name;
        std::vector<std::uint8_t> raw;
        std::vector<std::uint8_t> bytes;
        DWORD dwMarked;
    };
    const MarkCase cases[] = {
        {"Plain", {0x7F, 0x01, 0x00, 0x7D}, {0x7F, 0x01, 0x00, 0x7D}, 0},
        {"DoubledFF", {0x10, 0xFF, 0xFF, 0x20}, {0x10, 0xFF, 0x20}, 0},
        {"ParityErrorOnA", {0x10, 0xFF, 0x00, 0x41, 0x20}, {0x10, 0x41, 0x20}, 1},
        {"ParityErrorOnFFAndOn00", {0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00}, {0xFF, 0x00}, 2},
        {"DoubledFFTwice", {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}, 0},
        {"MarkAtTheEnd", {0x01, 0xFF, 0x00, 0x7F}, {0x01, 0x7F}, 1},
    };
    for (const MarkCase& c : cases) {
        for (std::size_t cut = 0; cut <= c.raw.size(); ++cut) {
            std::vector<std::uint8_t> raw = c.raw;
            win32posix::MarkedInput in;
            DWORD dwMarked = 0;
            const DWORD n1 = win32posix::UnmarkInput(in, raw.data(), static_cast<DWORD>(cut), dwMarked);
            std::vector<std::uint8_t> out(raw.begin(), raw.begin() + n1);
            const DWORD n2 =
                win32posix::UnmarkInput(in, raw.data() + cut, static_cast<DWORD>(raw.size() - cut), dwMarked);
            out.insert(out.end(), raw.begin() + static_cast<long>(cut), raw.begin() + static_cast<long>(cut + n2));
            EXPECT_EQ(out, c.bytes) << c.name << " cut at " << cut;
            EXPECT_EQ(dwMarked, c.dwMarked) << c.name << " cut at " << cut;
            EXPECT_EQ(in.nState, 0) << c.name << " cut at " << cut;
        }
    }
}

// What the error-count request reports: the driver's counts since the port
// opened where it keeps them (its counters may wrap), else the marks the
// reads took out, as parity errors; and the ClearCommError flags of the
// counts that grew since the last look.
TEST(LineSettingsMarks, ErrorCountsAndFlagsFromTheDriverOrTheMarks)
{
    using win32posix::LineCounts;
    struct {
        const char* name;
        bool bCounted;
        LineCounts atOpen, now;
        DWORD dwMarks;
        std::vector<DWORD> stats;  // framing, overrun, queue overrun, parity
        DWORD dwFlags;
    } const cases[] = {
        {"MarksOnly", false, {}, {}, 3, {0, 0, 0, 3}, 0},
        {"NothingAtAll", false, {}, {}, 0, {0, 0, 0, 0}, 0},
        {"CountsSinceTheOpen", true, {5, 2, 1, 0}, {7, 2, 4, 1}, 9, {0, 3, 1, 2}, CE_RXPARITY | CE_OVERRUN | CE_RXOVER},
        {"FramingOnly", true, {0, 0, 0, 0}, {0, 6, 0, 0}, 6, {6, 0, 0, 0}, CE_FRAME},
        {"CountersWrapped", true, {0xFFFFFFFF, 0, 0, 0}, {1, 0, 0, 0}, 0, {0, 0, 0, 2}, CE_RXPARITY},
        {"NothingNew", true, {4, 4, 4, 4}, {4, 4, 4, 4}, 0, {0, 0, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        const SERIALPERF_STATS s = win32posix::LineStats(c.bCounted, c.atOpen, c.now, c.dwMarks);
        EXPECT_EQ((std::vector<DWORD>{s.FrameErrorCount, s.SerialOverrunErrorCount, s.BufferOverrunErrorCount,
                                      s.ParityErrorCount}),
                  c.stats)
            << c.name;
        EXPECT_EQ(s.ReceivedCount + s.TransmittedCount, 0u) << c.name;
        if (c.bCounted) {
            EXPECT_EQ(win32posix::LineErrorFlags(c.atOpen, c.now), c.dwFlags) << c.name;
        }
    }
}

}  // namespace
