// The application's modal message box: the program name as caption, the
// exclamation icon unless the caller gives one, owned by the main window or
// the modal window up over it.
// MessageBoxA may be called from any thread; the owner handle is an atomic
// word, so a worker's box reads it safely while the UI thread runs.
#include "platform/AppMessageBox.h"

#include "app/ui/AppPlatform.h"
#include "app/ui/WinApp.h"

int AppMessageBox(const char* pszText, unsigned int nType)
{
    if ((nType & MB_ICONMASK) == 0)
        nType |= MB_ICONEXCLAMATION;
    CWinApp* pApp = AfxGetApp();
    HWND hMain = pApp != nullptr ? pApp->GetMainWindowHandle() : nullptr;
    // Owned by the innermost modal window over the main window (About), so
    // that closing that one cannot enable the main window under this box.
    HWND hOwner = hMain != nullptr ? PlatformModalOwner(hMain) : nullptr;
    std::string strCaption = AppProgramName();
    int nResult = ::MessageBoxA(hOwner, pszText, strCaption.c_str(), nType);
    // A worker's choice may have closed before its box opened: no box at all
    // would hide the message, so the main window owns it then.
    if (nResult == 0 && hOwner != hMain)
        nResult = ::MessageBoxA(hMain, pszText, strCaption.c_str(), nType);
    return nResult;
}
