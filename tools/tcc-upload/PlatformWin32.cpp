#include "tools/tcc-upload/Platform.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>

#include <atomic>

namespace {

std::atomic<int> g_bInterrupted{0};

BOOL WINAPI OnConsoleControl(DWORD dwType)
{
    if (dwType != CTRL_C_EVENT && dwType != CTRL_BREAK_EVENT)
        return FALSE;
    g_bInterrupted.store(1);
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

int PortListHasById() { return 0; }

// A COM name that the object manager knows is there, even before it opens.
int PortIsPresent(const std::string& port)
{
    std::string name = port;
    if (name.compare(0, 4, "\\\\.\\") == 0)
        name.erase(0, 4);
    char szTarget[512];
    return QueryDosDeviceA(name.c_str(), szTarget, sizeof szTarget) != 0 ? 1 : 0;
}

// Windows refuses a port held by another program, which is told apart
// before this; there is no group to join.
std::string DeniedPortText(const std::string&) { return std::string(); }

std::string SystemErrorText(unsigned long code) { return SystemMessage(static_cast<DWORD>(code)); }
