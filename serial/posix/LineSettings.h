// DCB <-> termios translation and errno -> Win32 error codes for the POSIX
// serial driver. Pure functions: no file descriptor is touched here.
#pragma once

#include "serial/Win32Api.h"

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
// drop some and still let tcsetattr succeed).
bool LineSettingsTook(const termios& wanted, const termios& got);

}  // namespace win32posix
