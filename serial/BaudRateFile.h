// The reading of "UploadConfig.ini", visible to serial/ and its tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/Win32Api.h"

// One of the five rates the station speaks: 9600, 19200, 38400, 57600, 115200.
bool IsSupportedBaudRate(long nValue);

// What the file said, and so which rate it gives and which box the window
// shows about it.
enum BaudRateOrigin {
    RATE_FROM_FILE,         // a supported value
    RATE_NO_FILE,           // 115200, "Using Defaults, ..."
    RATE_NO_MEMORY,         // 115200, "Memory Allocation Fail, ..."
    RATE_NO_KEY,            // 115200, no box
    RATE_VALUE_UNSUPPORTED  // 57600, "BaudRate %d Not Supported, ..."
};

struct BaudRateReading {
    DWORD dwRate;
    BaudRateOrigin nOrigin;
    int nValue;           // the value read after the key; 0 when there is none
    std::string strFile;  // the file read, named as it was looked for; "" when none was
};

// The rate the file's text names, without a box: pText holds nLength bytes
// and a terminating zero at pText[nLength].
BaudRateReading ParseBaudRateText(const char* pText, std::size_t nLength);

// As ParseBaudRateText, and for an unsupported value shows the box.
DWORD BaudRateFromText(const char* pText, std::size_t nLength);

// Where "UploadConfig.ini" is looked for, in this order: the working
// directory ("UploadConfig.ini"), so that a technician's own file wins, then
// the program's own folder (a full path), where the installers write it and
// which a start from a terminal, a script or another shortcut does not make
// the working directory.
std::vector<std::string> BaudRateFilePlaces();

// The first of the files that is a regular file and opens, read without a
// box; RATE_NO_FILE when none is.
BaudRateReading ReadBaudRateFileFrom(const std::vector<std::string>& files);

// ReadBaudRateFileFrom the usual places, for a caller that words its own
// report (tcc-upload).
BaudRateReading ReadBaudRateFileQuietly();

// Where the reading's rate came from, for reports: the file as it was found
// ("UploadConfig.ini" from the working directory, as scripts have always seen
// it, or the full path of the one beside the program), else "default".
std::string BaudRateSource(const BaudRateReading& reading);

// The baud rate from "UploadConfig.ini" in the usual places; shows at most
// one message box, "Using Defaults, ..." only when no place has the file.
DWORD ReadBaudRateFile();
