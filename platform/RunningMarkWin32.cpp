// The running mark on Windows: a named mutex the process holds until it ends.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/RunningMark.h"

// Each running copy holds its own handle on the one mutex; the name stays as
// long as any copy runs. The handle is never closed: the system closes it at
// exit. A failure (another user's copy made the name with a DACL closed to
// this one) leaves the name there all the same.
void AnnounceRunning() { ::CreateMutexA(nullptr, FALSE, TCC_RUNNING_MARK_NAME); }
