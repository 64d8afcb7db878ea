// DCB <-> termios translation and errno -> Win32 error codes for the POSIX
// serial driver. Pure functions: no file descriptor is touched here.
#pragma once

#include "platform/Win32Api.h"

#include <cstdint>

#include <termios.h>

namespace win32posix {

// winerror.h / winbase.h values the driver needs beyond Win32Api.h.
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kProviderRs232 = 0x00000001;  // PST_RS232

DWORD ErrnoToWin32(int err);

// The termios speed code for a rate in bits per second; false for a rate the
// terminal layer has no code for.
bool SpeedForBaud(DWORD baud, speed_t& speed);
DWORD BaudForSpeed(speed_t speed);  // 0 for a code not in our table
// Bits of COMMPROP::dwSettableBaud for the rates of our table.
DWORD SettableBaudMask();

// Writes the DCB's line format, parity checking and flow control into t.
// ERROR_INVALID_PARAMETER for a value out of range or one termios cannot
// express (1.5 stop bits, DSR/DTR handshaking, RTS toggling, fNull,
// fErrorChar, fDsrSensitivity); t is then unchanged.
DWORD ApplyDcb(const DCB& dcb, termios& t);

// The DCB that describes t, as GetCommState reports a freshly opened port.
DCB DcbFromTermios(const termios& t);

// Whether the device kept every setting ApplyDcb made (a pty or a driver may
// drop some and still let tcsetattr succeed). The speed may come back as the
// rate the UART's divisor really gives, within the 2% a UART tolerates.
bool LineSettingsTook(const termios& wanted, const termios& got);
bool RateWithinTolerance(DWORD wanted, DWORD got);

// Received bytes as the tty hands them over with parity checking on (INPCK
// with PARMRK): 0xFF 0xFF stands for a data byte 0xFF, and 0xFF 0x00 c for the
// byte c received with a parity or framing error. A sequence cut by the end of
// one read goes on in the next, so the state lives as long as the port.
struct MarkedInput {
    int nState = 0;  // 0 plain, 1 after 0xFF, 2 after 0xFF 0x00
};

// Unmarks pBytes[0..count) in place and returns how many bytes remain; each
// byte that came with an error mark is kept, as Windows delivers it, and
// counted in dwMarked.
DWORD UnmarkInput(MarkedInput& in, std::uint8_t* pBytes, DWORD count, DWORD& dwMarked);

// The error counts a serial driver keeps for its device (TIOCGICOUNT); a pty
// and some drivers keep none.
struct LineCounts {
    DWORD dwParity = 0;
    DWORD dwFrame = 0;
    DWORD dwOverrun = 0;        // the UART's
    DWORD dwBufferOverrun = 0;  // the tty's input buffer's
};

// What IOCTL_SERIAL_GET_STATS reports: the driver's counts since the port
// opened where it keeps them (bCounted), else the error marks the reads took
// out, as parity errors (the tty marks framing errors alike).
SERIALPERF_STATS LineStats(bool bCounted, const LineCounts& atOpen, const LineCounts& now, DWORD dwMarks);

// The CE_ flags of the counts that grew from one reading to the next.
DWORD LineErrorFlags(const LineCounts& before, const LineCounts& now);

}  // namespace win32posix
