#include "tools/tcc-upload/Platform.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>

#include <atomic>

namespace {

std::atomic<int> g_bInterrupted{0};

BOOL WINAPI OnConsoleControl(DWORD dwType)
{
    if (dwType != CTRL_C_EVENT && dwType != CTRL_BREAK_EVENT && dwType != CTRL_CLOSE_EVENT)
        return FALSE;
    g_bInterrupted.store(1);
    // The console window closed: the process ends as soon as this returns,
    // so wait here while the run removes its temporary file and ends the
    // process itself (Windows ends it after a few seconds in any case).
    if (dwType == CTRL_CLOSE_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

std::string SystemMessage(DWORD dwError)
{
    char sz[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, sizeof sz, nullptr);
    while (n > 0 && (sz[n - 1] == '\r' || sz[n - 1] == '\n' || sz[n - 1] == ' ' || sz[n - 1] == '.'))
        sz[--n] = '\0';
    if (n == 0)
        snprintf(sz, sizeof sz, "error %lu", static_cast<unsigned long>(dwError));
    return sz;
}

}  // namespace

int StderrIsTerminal() { return _isatty(_fileno(stderr)) ? 1 : 0; }

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

int WasInterrupted() { return g_bInterrupted.load(); }

// The serial port drivers publish their ports under SERIALCOMM: the value's
// name is the kernel device, its data the COM name. The vendor and product of
// an adapter are not kept there.
std::vector<SerialPortInfo> ListSerialPorts()
{
    std::vector<SerialPortInfo> ports;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char szName[256];
        BYTE abData[256];
        DWORD cchName = sizeof szName;
        DWORD cbData = sizeof abData - 1;
        DWORD dwType = 0;
        const LONG nResult = RegEnumValueA(hKey, i, szName, &cchName, nullptr, &dwType, abData, &cbData);
        if (nResult == ERROR_NO_MORE_ITEMS)
            break;
        if (nResult != ERROR_SUCCESS || dwType != REG_SZ)
            continue;
        abData[cbData] = '\0';
        SerialPortInfo port;
        port.strName = reinterpret_cast<const char*>(abData);
        port.nKind = KindOfSerialCommDevice(szName);
        port.strDetail = szName;
        ports.push_back(port);
    }
    RegCloseKey(hKey);
    SortPorts(ports);
    return ports;
}

std::string SystemErrorText(unsigned long code) { return SystemMessage(static_cast<DWORD>(code)); }
