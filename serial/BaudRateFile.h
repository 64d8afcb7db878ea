// The reading of "UploadConfig.ini", visible to serial/ and its tests.
#pragma once

#include <cstddef>

#include "platform/Win32Api.h"

// One of the five rates the station speaks: 9600, 19200, 38400, 57600, 115200.
bool IsSupportedBaudRate(long nValue);

// The rate the file's text names: pText holds nLength bytes and a terminating
// zero at pText[nLength]. 115200 when the text does not begin with the key;
// for an unsupported value, shows the message box and gives 57600.
DWORD BaudRateFromText(const char* pText, std::size_t nLength);

// The baud rate from "UploadConfig.ini" in the working directory; shows at
// most one message box.
DWORD ReadBaudRateFile();
