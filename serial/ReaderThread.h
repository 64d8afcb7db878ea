// The serial reader thread of CSerialPortCtrl, visible to serial/ and its tests.
#pragma once

#include "platform/Win32Api.h"

// Thread procedure, started through CSerialPort::StartThread with the address
// of a ReaderThreadParams record. Exit code 0, or 0xFFFFFFFF when its first
// event wait cannot be started.
DWORD WINAPI ReaderThreadProc(LPVOID pParam);
