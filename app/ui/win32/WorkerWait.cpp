// The UI thread's wait for a worker that may show a message box.
//
// A worker's box is owned by the upload window; before it appears it disables
// that window with a message sent to the UI thread, and a UI thread blocked in
// a plain join would never answer. So the wait serves sent messages, and only
// those: input, timers and paint stay posted, so nothing re-enters the window
// that is being torn down while the wait lasts.
#include "app/ui/win32/WorkerWait.h"

#include <pthread.h>

#include "app/ui/UiApi.h"

void WaitServingSentMessages(std::thread& worker)
{
    // The posix thread model keeps a Win32 handle behind every std::thread.
    HANDLE hThread = static_cast<HANDLE>(pthread_gethandle(worker.native_handle()));
    if (hThread != nullptr) {
        // MWMO_INPUTAVAILABLE: a message sent before the wait began counts too.
        while (::MsgWaitForMultipleObjectsEx(1, &hThread, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE) ==
               WAIT_OBJECT_0 + 1) {
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_SENDMESSAGE);
        }
    }
    worker.join();
}
