// Where each port's image goes: --output as a template with {port}, {serial}
// and {date}, checked before any port is opened.
#pragma once

#include <ctime>
#include <string>
#include <vector>

struct OutputPort {
    std::string strPort;    // as given to --port
    std::string strSerial;  // the USB adapter's serial number; empty when none
};

// The port's name made safe for a file name: /dev/ttyUSB0 gives ttyUSB0,
// /dev/pts/3 pts_3, COM7 and \\.\COM12 give COM7 and COM12.
std::string SafePortName(const std::string& port);

// UTC as YYYYMMDD-HHMMSS.
std::string UtcStamp(std::time_t when);

// Fills pPaths with one file per port, in the ports' order, and returns an
// empty string; or returns the usage error (an unknown field, several ports
// without {port} or {serial}, two ports given the same file, "-" for several).
std::string ExpandOutputs(const std::string& pattern, const std::vector<OutputPort>& ports, const std::string& date,
                          std::vector<std::string>* pPaths);

// What a Windows output path names that is no file, told from the name alone:
// opening it to ask would act on it (a COM port's lines toggle, and some
// stations reset; a pipe server's instance is used up). "it is a pipe" for
// a named pipe, here or on another machine; "it is a device" for the device
// namespace (\\.\COM6) but for the file systems it reaches, and for a DOS
// device name (NUL, CON, COM1...) as a file name in any folder, with any
// extension; empty for a path of the file system.
std::string WindowsOutputNameRefusal(const std::string& path);
