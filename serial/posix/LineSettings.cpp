#include "serial/posix/LineSettings.h"

#include <cerrno>

namespace win32posix {
namespace {

struct BaudEntry {
    DWORD baud;
    speed_t speed;
    DWORD settableBit;  // BAUD_xxx of COMMPROP, 0 when Windows has none
};

// BAUD_USER covers the rates Windows has no bit for.
constexpr DWORD kBaudUser = 0x10000000;

constexpr BaudEntry kBauds[] = {
    {110, B110, 0x00000002},      {300, B300, 0x00000010},      {600, B600, 0x00000020},
    {1200, B1200, 0x00000040},    {1800, B1800, 0x00000080},    {2400, B2400, 0x00000100},
    {4800, B4800, 0x00000200},    {9600, B9600, 0x00000800},    {19200, B19200, 0x00002000},
    {38400, B38400, 0x00004000},  {57600, B57600, 0x00040000},  {115200, B115200, 0x00020000},
    {230400, B230400, kBaudUser}, {460800, B460800, kBaudUser}, {500000, B500000, kBaudUser},
    {576000, B576000, kBaudUser}, {921600, B921600, kBaudUser}, {1000000, B1000000, kBaudUser},
};

// The cflag and iflag bits ApplyDcb owns; LineSettingsTook compares these.
#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif
constexpr tcflag_t kCflagBits = CSIZE | PARENB | PARODD | kStickParity | CSTOPB | CRTSCTS;
constexpr tcflag_t kIflagBits = INPCK | PARMRK | IXON | IXOFF;

bool ParityBits(BYTE parity, tcflag_t& bits)
{
    switch (parity) {
    case NOPARITY: bits = 0; return true;
    case ODDPARITY: bits = PARENB | PARODD; return true;
    case EVENPARITY: bits = PARENB; return true;
    case MARKPARITY: bits = PARENB | PARODD | kStickParity; return kStickParity != 0;
    case SPACEPARITY: bits = PARENB | kStickParity; return kStickParity != 0;
    default: return false;
    }
}

bool SizeBits(BYTE byteSize, tcflag_t& bits)
{
    switch (byteSize) {
    case 5: bits = CS5; return true;
    case 6: bits = CS6; return true;
    case 7: bits = CS7; return true;
    case 8: bits = CS8; return true;
    default: return false;
    }
}

bool StopBits(BYTE stopBits, tcflag_t& bits)
{
    switch (stopBits) {
    case ONESTOPBIT: bits = 0; return true;
    case TWOSTOPBITS: bits = CSTOPB; return true;
    default: return false;  // ONE5STOPBITS has no termios form
    }
}

// Handshakes termios cannot do. CRTSCTS is both directions at once, so CTS
// output flow and RTS input handshake each switch it on.
bool FlowExpressible(const DCB& dcb)
{
    return !dcb.fOutxDsrFlow && dcb.fDtrControl != DTR_CONTROL_HANDSHAKE && !dcb.fDsrSensitivity &&
           dcb.fRtsControl != RTS_CONTROL_TOGGLE && !dcb.fNull && !dcb.fErrorChar;
}

}  // namespace

DWORD ErrnoToWin32(int err)
{
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ENXIO:
    case ENODEV: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBUSY: return ERROR_SHARING_VIOLATION;  // TIOCEXCL: another process holds the tty
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EIO:
    case EPIPE: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ERROR_GEN_FAILURE;
    }
}

bool SpeedForBaud(DWORD baud, speed_t& speed)
{
    for (const BaudEntry& e : kBauds) {
        if (e.baud == baud) {
            speed = e.speed;
            return true;
        }
    }
    return false;
}

DWORD BaudForSpeed(speed_t speed)
{
    for (const BaudEntry& e : kBauds) {
        if (e.speed == speed)
            return e.baud;
    }
    return 0;
}

DWORD SettableBaudMask()
{
    DWORD mask = 0;
    for (const BaudEntry& e : kBauds)
        mask |= e.settableBit;
    return mask;
}

DWORD ApplyDcb(const DCB& dcb, termios& t)
{
    speed_t speed{};
    tcflag_t parity = 0, size = 0, stop = 0;
    if (!SpeedForBaud(dcb.BaudRate, speed) || !ParityBits(dcb.Parity, parity) || !SizeBits(dcb.ByteSize, size) ||
        !StopBits(dcb.StopBits, stop) || !FlowExpressible(dcb))
        return ERROR_INVALID_PARAMETER;
    // Windows refuses equal XON and XOFF characters when software flow is on.
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar)
        return ERROR_INVALID_PARAMETER;

    termios n = t;
    n.c_cflag &= ~kCflagBits;
    n.c_cflag |= parity | size | stop | CLOCAL | CREAD;
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        n.c_cflag |= CRTSCTS;
    n.c_iflag &= ~(kIflagBits | IXANY | ISTRIP | IGNPAR);
    // Without PARMRK a byte with a parity error reads as 0x00; with it the
    // byte comes through marked, and the port unmarks it and counts the error.
    if (dcb.fParity)
        n.c_iflag |= INPCK | PARMRK;
    if (dcb.fOutX)
        n.c_iflag |= IXON;
    if (dcb.fInX)
        n.c_iflag |= IXOFF;
    n.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    n.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    if (cfsetispeed(&n, speed) != 0 || cfsetospeed(&n, speed) != 0)
        return ERROR_INVALID_PARAMETER;
    t = n;
    return ERROR_SUCCESS;
}

DCB DcbFromTermios(const termios& t)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = BaudForSpeed(cfgetospeed(&t));
    dcb.fBinary = 1;
    dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    const bool rtscts = (t.c_cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = rtscts ? 1 : 0;
    dcb.fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (t.c_cflag & kStickParity)
        dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return dcb;
}

namespace {

// A C library that passes rates through as numbers hands back the driver's
// own figure; one with speed codes hands back a code of the table.
DWORD RateOfSpeed(speed_t speed)
{
    const DWORD baud = BaudForSpeed(speed);
    return baud != 0 ? baud : static_cast<DWORD>(speed);
}

}  // namespace

bool RateWithinTolerance(DWORD wanted, DWORD got)
{
    const std::uint64_t diff = wanted > got ? wanted - got : got - wanted;
    return diff * 50 <= wanted;
}

bool LineSettingsTook(const termios& wanted, const termios& got)
{
    return (wanted.c_cflag & kCflagBits) == (got.c_cflag & kCflagBits) &&
           (wanted.c_iflag & kIflagBits) == (got.c_iflag & kIflagBits) &&
           RateWithinTolerance(RateOfSpeed(cfgetospeed(&wanted)), RateOfSpeed(cfgetospeed(&got))) &&
           RateWithinTolerance(RateOfSpeed(cfgetispeed(&wanted)), RateOfSpeed(cfgetispeed(&got))) &&
           wanted.c_cc[VSTART] == got.c_cc[VSTART] && wanted.c_cc[VSTOP] == got.c_cc[VSTOP];
}

DWORD UnmarkInput(MarkedInput& in, std::uint8_t* pBytes, DWORD count, DWORD& dwMarked)
{
    DWORD out = 0;
    for (DWORD i = 0; i < count; ++i) {
        const std::uint8_t c = pBytes[i];
        switch (in.nState) {
        case 0:
            if (c == 0xFF)
                in.nState = 1;
            else
                pBytes[out++] = c;
            break;
        case 1:
            if (c == 0x00) {
                in.nState = 2;
            }
            else {
                // 0xFF 0xFF is a doubled 0xFF. Any other follower comes only
                // from bytes queued before marking was switched on: both are
                // kept where the buffer has room for the pair.
                if (c == 0xFF || out < i)
                    pBytes[out++] = 0xFF;
                if (c != 0xFF)
                    pBytes[out++] = c;
                in.nState = 0;
            }
            break;
        default:
            pBytes[out++] = c;
            ++dwMarked;
            in.nState = 0;
            break;
        }
    }
    return out;
}

SERIALPERF_STATS LineStats(bool bCounted, const LineCounts& atOpen, const LineCounts& now, DWORD dwMarks)
{
    SERIALPERF_STATS stats{};
    if (!bCounted) {
        stats.ParityErrorCount = dwMarks;
        return stats;
    }
    // Unsigned differences: right across a wrap of the driver's counters too.
    stats.ParityErrorCount = now.dwParity - atOpen.dwParity;
    stats.FrameErrorCount = now.dwFrame - atOpen.dwFrame;
    stats.SerialOverrunErrorCount = now.dwOverrun - atOpen.dwOverrun;
    stats.BufferOverrunErrorCount = now.dwBufferOverrun - atOpen.dwBufferOverrun;
    return stats;
}

DWORD LineErrorFlags(const LineCounts& before, const LineCounts& now)
{
    return (now.dwParity != before.dwParity ? CE_RXPARITY : 0) | (now.dwFrame != before.dwFrame ? CE_FRAME : 0) |
           (now.dwOverrun != before.dwOverrun ? CE_OVERRUN : 0) |
           (now.dwBufferOverrun != before.dwBufferOverrun ? CE_RXOVER : 0);
}

}  // namespace win32posix
