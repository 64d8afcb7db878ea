#include "tools/tcc-upload/Platform.h"
#include "tools/tcc-upload/OutputName.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <fcntl.h>
#include <io.h>
#include <setupapi.h>
#include <stdio.h>

#include <cerrno>

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

std::string Utf8(const wchar_t* psz)
{
    char sz[1024];
    const int n = WideCharToMultiByte(CP_UTF8, 0, psz, -1, sz, sizeof sz, nullptr, nullptr);
    return n > 0 ? std::string(sz) : std::string();
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
}

// The Ports device class (COM and LPT) and the string the USB device itself
// reports as its product, spelt out to spare the INITGUID dance.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

std::string RegistryProperty(HDEVINFO hSet, SP_DEVINFO_DATA* pDev, DWORD dwProperty)
{
    wchar_t sz[512] = L"";
    if (!SetupDiGetDeviceRegistryPropertyW(hSet, pDev, dwProperty, nullptr, reinterpret_cast<BYTE*>(sz),
                                           sizeof sz - sizeof(wchar_t), nullptr))
        return std::string();
    return Utf8(sz);
}

std::string BusReportedProduct(HDEVINFO hSet, SP_DEVINFO_DATA* pDev)
{
    wchar_t sz[512] = L"";
    DEVPROPTYPE type = 0;
    if (!SetupDiGetDevicePropertyW(hSet, pDev, &kBusReportedDeviceDesc, &type, reinterpret_cast<BYTE*>(sz),
                                   sizeof sz - sizeof(wchar_t), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING)
        return std::string();
    return Utf8(sz);
}

// The COM name the port's driver took, from the device's hardware key.
std::string PortNameOf(HDEVINFO hSet, SP_DEVINFO_DATA* pDev)
{
    HKEY hKey = SetupDiOpenDevRegKey(hSet, pDev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (hKey == INVALID_HANDLE_VALUE)
        return std::string();
    wchar_t sz[64] = L"";
    DWORD cb = sizeof sz - sizeof(wchar_t);
    DWORD dwType = 0;
    const LONG nResult = RegQueryValueExW(hKey, L"PortName", nullptr, &dwType, reinterpret_cast<BYTE*>(sz), &cb);
    RegCloseKey(hKey);
    if (nResult != ERROR_SUCCESS || dwType != REG_SZ)
        return std::string();
    sz[cb / sizeof(wchar_t)] = L'\0';
    return Utf8(sz);
}

// The ids from the port's own instance id or its parents': an FTDI port's
// parent is the USB device, a composite device's interface has the device
// above it. The serial number counts only from a node with the same ids, so
// a hub's is never taken for the adapter's.
void FillUsbFacts(DEVINST devInst, SerialPortInfo* pPort)
{
    for (int nLevel = 0; nLevel < 3; ++nLevel) {
        wchar_t szId[MAX_DEVICE_ID_LEN + 1] = L"";
        if (CM_Get_Device_IDW(devInst, szId, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
            return;
        std::string vid, pid, serial;
        if (ParseUsbInstanceId(Utf8(szId), &vid, &pid, &serial)) {
            if (pPort->strVid.empty()) {
                pPort->nKind = PORT_USB;
                pPort->strVid = vid;
                pPort->strPid = pid;
            }
            if (!serial.empty() && vid == pPort->strVid && pid == pPort->strPid) {
                pPort->strSerial = serial;
                return;
            }
        }
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, devInst, 0) != CR_SUCCESS)
            return;
        devInst = parent;
    }
}

// What Device Manager knows of the ports SERIALCOMM lists: the friendly name,
// the driver's manufacturer, the product and the USB facts. A port without a
// device node (Wine's mapped ports) is said to be no more than a serial port:
// SERIALCOMM's kernel device name ("\Device\Serial0") is a driver's choice,
// and counts as the port's kind only for a port SetupAPI knows.
void AddDeviceFacts(std::vector<SerialPortInfo>& ports)
{
    HDEVINFO hSet = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (hSet == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(hSet, i, &dev); ++i) {
        const std::string name = PortNameOf(hSet, &dev);
        for (SerialPortInfo& port : ports) {
            if (name.empty() || !SameName(port.strName, name))
                continue;
            port.nKind = KindOfSerialCommDevice(port.strDetail);
            port.strFriendlyName = RegistryProperty(hSet, &dev, SPDRP_FRIENDLYNAME);
            port.strManufacturer = RegistryProperty(hSet, &dev, SPDRP_MFG);
            port.strProduct = BusReportedProduct(hSet, &dev);
            if (port.strProduct.empty())
                port.strProduct = RegistryProperty(hSet, &dev, SPDRP_DEVICEDESC);
            FillUsbFacts(dev.DevInst, &port);
        }
    }
    SetupDiDestroyDeviceInfoList(hSet);
}

}  // namespace

// A process started without a console or with a handle left out has no
// standard handle, or one already closed, and the C runtime's descriptor
// has none behind it: NUL takes its place in both.
int OpenClosedStandardStreams()
{
    const DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    int nClosed = 0;
    for (int n = 0; n <= 2; ++n) {
        const HANDLE h = GetStdHandle(kIds[n]);
        const intptr_t crt = _get_osfhandle(n);
        const bool bOpen =
            h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN && crt != -1 && crt != -2;
        if (bOpen)
            continue;
        nClosed |= 1 << n;
        const int fd = _open("NUL", n == 0 ? _O_RDONLY : _O_WRONLY);
        if (fd < 0)
            continue;
        if (fd != n) {
            _dup2(fd, n);
            _close(fd);
        }
        SetStdHandle(kIds[n], reinterpret_cast<HANDLE>(_get_osfhandle(n)));
    }
    return nClosed;
}

// Through the C runtime, which keeps the stream's text or binary mode.
unsigned long WriteStandardStream(int nStream, const void* pBytes, std::size_t count)
{
    const char* p = static_cast<const char*>(pBytes);
    while (count > 0) {
        const unsigned int nChunk = count > (1u << 20) ? (1u << 20) : static_cast<unsigned int>(count);
        const int n = _write(nStream, p, nChunk);
        if (n <= 0)
            return n < 0 ? static_cast<unsigned long>(errno) : static_cast<unsigned long>(EIO);
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return 0;
}

int StderrIsTerminal() { return _isatty(_fileno(stderr)) ? 1 : 0; }

// Nothing is opened to ask: opening a COM port toggles its lines, opening a
// pipe takes a server's instance, and even GetFileAttributes opens what it
// asks about. The name tells a device or a pipe; only a path of the file
// system is asked whether it is a folder.
std::string OutputRefusal(const std::string& path)
{
    const std::string refusal = WindowsOutputNameRefusal(path);
    if (!refusal.empty())
        return refusal;
    const DWORD dwAttributes = GetFileAttributesA(path.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return "it is a folder";
    return std::string();
}

void SetStdoutBinary() { _setmode(_fileno(stdout), _O_BINARY); }

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

// Windows raises nothing at a write that fails: it returns the error.
void IgnoreWriteSignals() {}

int WasInterrupted() { return g_bInterrupted.load(); }

// The serial port drivers publish their ports under SERIALCOMM: the value's
// name is the kernel device, its data the COM name. The vendor and product of
// an adapter are not kept there; SetupAPI adds them.
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
        port.strDetail = szName;  // the kind follows from it once SetupAPI knows the port
        ports.push_back(port);
    }
    RegCloseKey(hKey);
    AddDeviceFacts(ports);
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

std::string SystemErrorText(unsigned long code) { return SystemMessage(static_cast<DWORD>(code)); }
