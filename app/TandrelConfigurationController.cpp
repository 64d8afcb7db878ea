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
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // The window has closed: end the program rather than enter a message loop.
    return FALSE;
}
