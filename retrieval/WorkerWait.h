// How the thread that deletes an uploader waits for the uploader's worker.
//
// That worker may be about to show, or be showing, a message box owned by the
// upload window. On Windows such a box needs the window's thread to answer
// messages sent to it (the owner is disabled with a sent message) before it
// can even appear, so the UI thread must never sit in a plain join there. The
// program installs a wait that serves sent messages and nothing else; tools
// and tests keep the plain join.
#pragma once

#include <thread>

typedef void (*WorkerWaitProc)(std::thread& worker);

// pfnWait null restores the plain join. Install before any uploader exists.
void SetWorkerWait(WorkerWaitProc pfnWait);

// Returns once the worker has ended and is joined.
void WaitForWorker(std::thread& worker);
