// The application's modal message box: the program name as caption, the
// exclamation icon unless the caller gives one, owned by the main window.
// MessageBoxA may be called from any thread; the owner handle is an atomic
// word, so a worker's box reads it safely while the UI thread runs.
#include "platform/AppMessageBox.h"

#include "app/ui/WinApp.h"

int AppMessageBox(const char* pszText, unsigned int nType)
{
    if ((nType & MB_ICONMASK) == 0)
        nType |= MB_ICONEXCLAMATION;
    CWinApp* pApp = AfxGetApp();
    HWND hOwner = pApp != nullptr ? pApp->GetMainWindowHandle() : nullptr;
    std::string strCaption = AppProgramName();
    return ::MessageBoxA(hOwner, pszText, strCaption.c_str(), nType);
}
