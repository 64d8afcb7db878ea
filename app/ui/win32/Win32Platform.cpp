// The dialog layer's operating-system services on Windows: the real calls.
#include "app/ui/AppPlatform.h"

#include <winsock2.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "app/ui/Dialog.h"

namespace {

HINSTANCE g_hInstance = nullptr;
HHOOK g_hHelpKeyHook = nullptr;

// DialogBox runs its own message loop; its message filter hook is where a
// key can be looked at before the dialog's keyboard handling sees it.
LRESULT CALLBACK HelpKeyFilter(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == MSGF_DIALOGBOX) {
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        HWND hDlg = ::GetAncestor(pMsg->hwnd, GA_ROOT);
        if (hDlg != nullptr && TranslateHelpKey(hDlg, pMsg->message, pMsg->wParam))
            return TRUE;
    }
    return ::CallNextHookEx(g_hHelpKeyHook, nCode, wParam, lParam);
}

}  // namespace

void PlatformSetInstance(HINSTANCE hInstance) { g_hInstance = hInstance; }

HINSTANCE PlatformInstance() { return g_hInstance; }

std::string PlatformModulePath()
{
    char szPath[MAX_PATH];
    DWORD cch = ::GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    return std::string(szPath, cch < MAX_PATH ? cch : 0);
}

std::string PlatformAppDataFolder()
{
    char szPath[MAX_PATH];
    if (SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, szPath)))
        return szPath;
    DWORD cch = ::GetEnvironmentVariableA("APPDATA", szPath, MAX_PATH);
    return std::string(szPath, cch < MAX_PATH ? cch : 0);
}

std::string PlatformDocumentsFolder()
{
    char szPath[MAX_PATH];
    if (SUCCEEDED(::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, szPath)))
        return szPath;
    return std::string();
}

std::string PlatformWindowsFolder()
{
    char szPath[MAX_PATH];
    UINT cch = ::GetWindowsDirectoryA(szPath, MAX_PATH);
    return std::string(szPath, cch < MAX_PATH ? cch : 0);
}

std::string PlatformVirtualStoreFolder()
{
    // The redirected copy mirrors the path without its drive: C:\Windows is
    // %LOCALAPPDATA%\VirtualStore\Windows.
    std::string strWindows = PlatformWindowsFolder();
    char szLocal[MAX_PATH];
    if (strWindows.size() < 3 || strWindows[1] != ':' ||
        FAILED(::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szLocal)))
        return std::string();
    return std::string(szLocal) + "\\VirtualStore" + strWindows.substr(2);
}

char PlatformPathSeparator() { return '\\'; }

namespace {

struct OwnedDialogSearch {
    HWND hOwner;
    HWND hFound;
};

// Dialogs, Save As and message boxes are all of the dialog class; tooltips
// and other owned helpers are not, and must never own a modal window.
BOOL CALLBACK FindOwnedDialog(HWND hWnd, LPARAM lParam)
{
    OwnedDialogSearch* pSearch = reinterpret_cast<OwnedDialogSearch*>(lParam);
    if (::GetWindow(hWnd, GW_OWNER) != pSearch->hOwner || !::IsWindowVisible(hWnd))
        return TRUE;
    char szClass[8] = {};
    if (::GetClassNameA(hWnd, szClass, sizeof(szClass)) == 0 || std::strcmp(szClass, "#32770") != 0)
        return TRUE;
    pSearch->hFound = hWnd;
    return FALSE;
}

}  // namespace

HWND PlatformModalOwner(HWND hWnd)
{
    // Bounded: a chain of modal windows is a few deep, never a cycle, but the
    // windows belong to another thread when a worker asks.
    for (int nDepth = 0; hWnd != nullptr && nDepth < 16; ++nDepth) {
        OwnedDialogSearch search = {hWnd, nullptr};
        ::EnumWindows(FindOwnedDialog, reinterpret_cast<LPARAM>(&search));
        if (search.hFound == nullptr)
            break;
        hWnd = search.hFound;
    }
    return hWnd;
}

INT_PTR PlatformRunModal(UINT nIDTemplate, HWND hParent, DLGPROC pfnProc, LPARAM lParam)
{
    // One hook per modal level; the About box nests inside the upload window.
    HHOOK hOuterHook = g_hHelpKeyHook;
    g_hHelpKeyHook = ::SetWindowsHookExA(WH_MSGFILTER, HelpKeyFilter, nullptr, ::GetCurrentThreadId());
    INT_PTR nResult = ::DialogBoxParamA(g_hInstance, MAKEINTRESOURCEA(nIDTemplate), hParent, pfnProc, lParam);
    if (g_hHelpKeyHook != nullptr)
        ::UnhookWindowsHookEx(g_hHelpKeyHook);
    g_hHelpKeyHook = hOuterHook;
    return nResult;
}

const BYTE* PlatformLoadDlgInit(UINT nIDTemplate, DWORD* pcbSize)
{
    *pcbSize = 0;
    HRSRC hResource = ::FindResourceA(g_hInstance, MAKEINTRESOURCEA(nIDTemplate), MAKEINTRESOURCEA(240));
    HGLOBAL hData = hResource != nullptr ? ::LoadResource(g_hInstance, hResource) : nullptr;
    if (hData == nullptr)
        return nullptr;
    *pcbSize = ::SizeofResource(g_hInstance, hResource);
    return static_cast<const BYTE*>(::LockResource(hData));
}

// Each value under the key is one port: its name the driver's device
// ("\Device\Serial0"), its data the port's name ("COM1"). A value too long
// for the buffer is no port name and is passed over.
std::vector<std::string> PlatformSerialPortNames()
{
    std::vector<std::string> names;
    HKEY hKey = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        char szValue[256];
        BYTE abData[256];
        DWORD cchValue = sizeof szValue, cbData = sizeof abData - 1, dwType = 0;
        LONG lResult = ::RegEnumValueA(hKey, dwIndex, szValue, &cchValue, nullptr, &dwType, abData, &cbData);
        if (lResult == ERROR_NO_MORE_ITEMS)
            break;
        if (lResult != ERROR_SUCCESS || dwType != REG_SZ)
            continue;
        abData[cbData] = 0;
        names.emplace_back(reinterpret_cast<const char*>(abData));
    }
    ::RegCloseKey(hKey);
    return names;
}

BOOL PlatformSocketsStartup(WORD wVersionRequested, WORD* pwVersionGranted)
{
    WSADATA wsaData;
    if (::WSAStartup(wVersionRequested, &wsaData) != 0)
        return FALSE;
    *pwVersionGranted = wsaData.wVersion;
    return TRUE;
}

void PlatformSocketsCleanup() { ::WSACleanup(); }

BOOL PlatformSaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath,
                          DWORD* pdwError)
{
    *pdwError = 0;
    std::vector<char> szFile(32768, '\0');
    strPath.copy(szFile.data(), szFile.size() - 1);
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = pszFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = szFile.data();
    ofn.nMaxFile = static_cast<DWORD>(szFile.size());
    ofn.lpstrDefExt = pszDefExt;
    // Without OFN_NOCHANGEDIR the folder saved into becomes the working
    // directory, and the next run would look for UploadConfig.ini there.
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    if (!::GetSaveFileNameA(&ofn)) {
        *pdwError = ::CommDlgExtendedError();
        return FALSE;
    }
    strPath = szFile.data();
    return TRUE;
}

std::string PlatformProfileGetString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                     const char* pszDefault)
{
    // The call truncates to the buffer and then returns its size less one.
    for (DWORD cchBuffer = 512;; cchBuffer *= 2) {
        std::vector<char> szValue(cchBuffer);
        DWORD cch =
            ::GetPrivateProfileStringA(pszSection, pszKey, pszDefault, szValue.data(), cchBuffer, strPath.c_str());
        if (cch < cchBuffer - 1 || cchBuffer >= 65536)
            return std::string(szValue.data(), cch);
    }
}

BOOL PlatformProfileWriteString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                const char* pszValue)
{
    return ::WritePrivateProfileStringA(pszSection, pszKey, pszValue, strPath.c_str());
}

BOOL PlatformFileExists(const std::string& strPath)
{
    DWORD dwAttributes = ::GetFileAttributesA(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BOOL PlatformCreateFolder(const std::string& strPath)
{
    return ::CreateDirectoryA(strPath.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

BOOL PlatformCopyFile(const std::string& strFrom, const std::string& strTo)
{
    return ::CopyFileA(strFrom.c_str(), strTo.c_str(), TRUE);
}

BOOL PlatformProbeWritable(const std::string& strPath, DWORD* pdwError)
{
    HANDLE hFile =
        ::CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pdwError = ::GetLastError();
        return FALSE;
    }
    ::CloseHandle(hFile);
    return TRUE;
}
