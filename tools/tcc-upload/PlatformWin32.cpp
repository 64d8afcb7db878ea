#include "tools/tcc-upload/Platform.h"

#include <windows.h>

#include <io.h>
#include <stdio.h>

#include <algorithm>
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

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

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
    for (DWORD i = 0;; ++i)
    {
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

CAtomicFile::~CAtomicFile() { Discard(); }

void CAtomicFile::SetError(const char* pszWhat)
{
    m_strError = std::string(pszWhat) + " " + m_strTarget + ": " + SystemMessage(GetLastError());
}

// CREATE_NEW beside the target, so the final MoveFileEx stays on one volume.
int CAtomicFile::Create(const std::string& targetPath)
{
    Discard();
    m_strTarget = targetPath;
    const std::string temp = targetPath + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        SetError("cannot write");
        return 0;
    }
    m_hFile = reinterpret_cast<std::intptr_t>(h);
    m_strTemp = temp;
    return 1;
}

int CAtomicFile::Write(const std::uint8_t* pBytes, std::size_t count)
{
    while (count > 0)
    {
        const DWORD dwWant = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 20));
        DWORD dwDone = 0;
        if (!WriteFile(AsHandle(m_hFile), pBytes, dwWant, &dwDone, nullptr) || dwDone == 0)
        {
            SetError("cannot write");
            return 0;
        }
        pBytes += dwDone;
        count -= dwDone;
    }
    return 1;
}

int CAtomicFile::Commit()
{
    if (!FlushFileBuffers(AsHandle(m_hFile)))
    {
        SetError("cannot write");
        return 0;
    }
    CloseHandle(AsHandle(m_hFile));
    m_hFile = -1;
    if (!MoveFileExA(m_strTemp.c_str(), m_strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        SetError("cannot replace");
        return 0;
    }
    m_strTemp.clear();
    return 1;
}

void CAtomicFile::Discard()
{
    if (m_hFile != -1)
        CloseHandle(AsHandle(m_hFile));
    m_hFile = -1;
    if (!m_strTemp.empty())
        DeleteFileA(m_strTemp.c_str());
    m_strTemp.clear();
}
