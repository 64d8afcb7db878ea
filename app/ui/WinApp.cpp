#include "app/ui/WinApp.h"

#include "app/ui/AppPlatform.h"

namespace {

// The framework's one application object (MFC's AfxGetApp).
CWinApp* g_pApp = nullptr;

constexpr ULONG_PTR kHelpTopicDialogBase = 0x20000;
const char kSettingsFolder[] = "TandrelConfigurationController";

std::size_t FileNameStart(const std::string& strPath)
{
    std::size_t nSlash = strPath.find_last_of("\\/");
    return nSlash == std::string::npos ? 0 : nSlash + 1;
}

// strPath with its extension (if the file name has one) replaced by pszExt.
std::string ReplaceExtension(const std::string& strPath, const char* pszExt)
{
    std::size_t nDot = strPath.find_last_of('.');
    if (nDot == std::string::npos || nDot < FileNameStart(strPath))
        return strPath + pszExt;
    return strPath.substr(0, nDot) + pszExt;
}

std::string ProgramNameFromPath(const std::string& strModulePath)
{
    std::string strName = strModulePath.substr(FileNameStart(strModulePath));
    return ReplaceExtension(strName, "");
}

}  // namespace

CWinApp* AfxGetApp() { return g_pApp; }

std::string AppProgramName()
{
    if (g_pApp != nullptr && !g_pApp->GetProgramName().empty())
        return g_pApp->GetProgramName();
    return ProgramNameFromPath(PlatformModulePath());
}

CWinApp::CWinApp() : m_pMainWnd(nullptr), m_hMainWnd(nullptr) { g_pApp = this; }

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

int CWinApp::Run()
{
    DeriveNames();
    // InitInstance returns FALSE when the program is done, and also when it
    // failed; either way exit processing runs.
    InitInstance();
    int nExitCode = ExitInstance();
    if (m_bSocketsStarted) {
        PlatformSocketsCleanup();
        m_bSocketsStarted = FALSE;
    }
    return nExitCode;
}

BOOL CWinApp::SocketsInit()
{
    const WORD wVersion = MAKEWORD(1, 1);
    WORD wGranted = 0;
    if (!PlatformSocketsStartup(wVersion, &wGranted))
        return FALSE;
    if (wGranted != wVersion) {
        PlatformSocketsCleanup();
        return FALSE;
    }
    m_bSocketsStarted = TRUE;
    return TRUE;
}

void CWinApp::DeriveNames()
{
    std::string strModulePath = PlatformModulePath();
    m_strProgramName = ProgramNameFromPath(strModulePath);
    m_strHelpPath = ReplaceExtension(strModulePath, ".HLP");
    m_strHtmlHelpPath = ReplaceExtension(strModulePath, ".chm");
    m_strProfileName = ReplaceExtension(strModulePath.substr(FileNameStart(strModulePath)), ".INI");
    std::string strUserFolder = PlatformAppDataFolder();
    if (!strUserFolder.empty())
        strUserFolder = JoinPath(strUserFolder, kSettingsFolder);
    m_profile.SetLocation(m_strProfileName, strUserFolder, PlatformWindowsFolder(), PlatformVirtualStoreFolder());
}

BOOL CWinApp::ProcessCommand(UINT, CDialog*) { return FALSE; }

int CWinApp::GetProfileInt(const char* pszSection, const char* pszKey, int nDefault) const
{
    return m_profile.GetInt(pszSection, pszKey, nDefault);
}

std::string CWinApp::GetProfileString(const char* pszSection, const char* pszKey, const char* pszDefault) const
{
    return m_profile.GetString(pszSection, pszKey, pszDefault);
}

BOOL CWinApp::WriteProfileInt(const char* pszSection, const char* pszKey, int nValue) const
{
    return m_profile.WriteInt(pszSection, pszKey, nValue);
}

BOOL CWinApp::WriteProfileString(const char* pszSection, const char* pszKey, const std::string& strValue) const
{
    return m_profile.WriteString(pszSection, pszKey, strValue);
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
    return ::LoadIconA(PlatformInstance(), MAKEINTRESOURCEA(nIDResource));
}

std::string CWinApp::LoadString(UINT nID) const
{
    char szText[256];
    int nLength = ::LoadStringA(PlatformInstance(), nID, szText, static_cast<int>(sizeof(szText)));
    return std::string(szText, nLength > 0 ? static_cast<std::size_t>(nLength) : 0);
}

void CWinApp::WinHelp(ULONG_PTR dwData, UINT nCmd)
{
    HWND hWnd = GetMainWindowHandle();
    BOOL bOk = FALSE;
    if (nCmd != HELP_CONTEXT) {
        bOk = ::WinHelpA(hWnd, m_strHelpPath.c_str(), nCmd, dwData);
        if (nCmd == HELP_QUIT && m_bHtmlHelpOpened) {
            ::HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0);
            m_bHtmlHelpOpened = FALSE;
        }
    }
    else if (PlatformFileExists(m_strHelpPath)) {
        // Installations that still ship a WinHelp file keep their viewer.
        bOk = ::WinHelpA(hWnd, m_strHelpPath.c_str(), nCmd, dwData);
    }
    else if (PlatformFileExists(m_strHtmlHelpPath)) {
        bOk = ::HtmlHelpA(hWnd, m_strHtmlHelpPath.c_str(), HH_HELP_CONTEXT, dwData) != nullptr;
        m_bHtmlHelpOpened = m_bHtmlHelpOpened || bOk;
    }
    if (!bOk)
        AppMessageBox("Failed to launch help.");
}

void CWinApp::OnHelp(CDialog* pSource)
{
    // Without a dialog there is no topic, and nothing is shown.
    if (pSource != nullptr)
        WinHelp(kHelpTopicDialogBase + pSource->GetTemplateId(), HELP_CONTEXT);
}
