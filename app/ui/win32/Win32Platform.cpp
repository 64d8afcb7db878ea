// The dialog layer's operating-system services on Windows: the real calls.
#include "app/ui/AppPlatform.h"

#include <winsock2.h>
#include <commdlg.h>
#include <shlobj.h>

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

std::string PlatformWindowsFolder()
{
    char szPath[MAX_PATH];
    UINT cch = ::GetWindowsDirectoryA(szPath, MAX_PATH);
    return std::string(szPath, cch < MAX_PATH ? cch : 0);
}

char PlatformPathSeparator() { return '\\'; }

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

BOOL PlatformSocketsStartup(WORD wVersionRequested, WORD* pwVersionGranted)
{
    WSADATA wsaData;
    if (::WSAStartup(wVersionRequested, &wsaData) != 0)
        return FALSE;
    *pwVersionGranted = wsaData.wVersion;
    return TRUE;
}

void PlatformSocketsCleanup() { ::WSACleanup(); }

BOOL PlatformSaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath)
{
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
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!::GetSaveFileNameA(&ofn))
        return FALSE;
    strPath = szFile.data();
    return TRUE;
}

std::string PlatformProfileGetString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                     const char* pszDefault)
{
    // The call truncates to the buffer and then returns its size less one.
    for (DWORD cchBuffer = 512;; cchBuffer *= 2) {
        std::vector<char> szValue(cchBuffer);
        DWORD cch = ::GetPrivateProfileStringA(pszSection, pszKey, pszDefault, szValue.data(), cchBuffer,
                                               strPath.c_str());
        if (cch < cchBuffer - 1 || cchBuffer >= 65536)
            return std::string(szValue.data(), cch);
    }
}

int PlatformProfileGetInt(const std::string& strPath, const char* pszSection, const char* pszKey, int nDefault)
{
    return static_cast<int>(::GetPrivateProfileIntA(pszSection, pszKey, nDefault, strPath.c_str()));
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
    HANDLE hFile = ::CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pdwError = ::GetLastError();
        return FALSE;
    }
    ::CloseHandle(hFile);
    return TRUE;
}

