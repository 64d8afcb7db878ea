#include "app/TandrelConfigurationController.h"

#include "app/TandrelConfigurationControllerDlg.h"
#include "resources/resource.h"

CUploaderApp theApp;

BOOL CUploaderApp::InitInstance()
{
    if (!SocketsInit()) {
        AppMessageBox(LoadString(IDS_SOCKETS_INIT_FAILED).c_str(), MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    CUploaderDlg dlg;
    m_pMainWnd = m_pUploadWindow = &dlg;
    dlg.DoModal();
    m_pMainWnd = m_pUploadWindow = nullptr;

    // The window has closed: end the program rather than enter a message loop.
    return FALSE;
}

// Every route to Help ends here: the window's button, F1 in any of the
// program's dialogs, a command with whatever notification code another
// program sends. The upload window's state decides, as for its other
// commands, whether it is taken now.
void CUploaderApp::OnHelpCommand(CDialog* pSource)
{
    if (m_pUploadWindow != nullptr && m_pUploadWindow->TakesHelp())
        OnHelp(pSource);
}
