// The Windows entry point: hands the process to the application object.
#include "app/ui/AppPlatform.h"
#include "app/ui/WinApp.h"
#include "app/ui/win32/WorkerWait.h"
#include "platform/RunningMark.h"
#include "retrieval/WorkerWait.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // First, so that an uninstall started while the window opens sees it.
    AnnounceRunning();
    PlatformSetInstance(hInstance);
    // The progress bar's window class lives in comctl32.
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    SetWorkerWait(WaitServingSentMessages);
    return AfxGetApp()->Run();
}
