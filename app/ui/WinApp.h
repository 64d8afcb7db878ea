// The application object: one global instance derived from CWinApp, whose
// InitInstance the framework calls once (CWinApp::Run). It owns the names
// derived from the executable, the profile and the Help command.
#pragma once

#include <atomic>
#include <string>

#include "app/ui/Dialog.h"
#include "app/services/Profile.h"

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The framework's part of a program run: derives the names, calls
    // InitInstance, then ExitInstance; returns the exit code.
    int Run();

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
    // The command map; commands no dialog handled arrive here.
    virtual BOOL ProcessCommand(UINT nID, CDialog* pSource);

    const std::string& GetProgramName() const { return m_strProgramName; }

    int GetProfileInt(const char* pszSection, const char* pszKey, int nDefault) const;
    std::string GetProfileString(const char* pszSection, const char* pszKey, const char* pszDefault) const;
    BOOL WriteProfileInt(const char* pszSection, const char* pszKey, int nValue) const;
    BOOL WriteProfileString(const char* pszSection, const char* pszKey, const std::string& strValue) const;

    HICON LoadIcon(UINT nIDResource) const;
    std::string LoadString(UINT nID) const;

    // Opens the help at topic dwData (HELP_CONTEXT): the WinHelp file when
    // there is one beside the program, else the compiled HTML Help file.
    // HELP_QUIT closes whichever viewer was opened.
    void WinHelp(ULONG_PTR dwData, UINT nCmd = HELP_CONTEXT);
    // The Help command: the topic of the dialog the user is in.
    void OnHelp(CDialog* pSource);

    // Starts the sockets layer at exactly version 1.1; the framework releases
    // it after ExitInstance. FALSE when it is not available in that version.
    BOOL SocketsInit();

    // The main window owns every message box, also those of worker threads.
    CDialog* m_pMainWnd;
    HWND GetMainWindowHandle() const { return m_hMainWnd.load(std::memory_order_acquire); }
    void SetMainWindowHandle(HWND hWnd) { m_hMainWnd.store(hWnd, std::memory_order_release); }

private:
    void DeriveNames();

    std::string m_strProgramName;
    std::string m_strHelpPath;
    std::string m_strHtmlHelpPath;
    BOOL m_bHtmlHelpOpened = FALSE;
    std::string m_strProfileName;
    CProfile m_profile;
    std::atomic<HWND> m_hMainWnd;
    BOOL m_bSocketsStarted = FALSE;
};

CWinApp* AfxGetApp();

// The program's name for a message box caption, also before CWinApp::Run.
std::string AppProgramName();

#define BEGIN_COMMAND_MAP(theClass)                          \
    BOOL ProcessCommand(UINT nID, CDialog* pSource) override \
    {                                                        \
        (void)pSource;
#define ON_COMMAND(id, func) \
    if (nID == (id)) {       \
        func(pSource);       \
        return TRUE;         \
    }
#define END_COMMAND_MAP() \
    return FALSE;         \
    }
