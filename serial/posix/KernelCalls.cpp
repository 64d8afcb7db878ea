// The Win32 names of the kernel-object calls that a test driver wraps.
#include "serial/posix/Kernel.h"

BOOL CloseHandle(HANDLE hObject) { return KernelCloseHandle(hObject); }

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName)
{
    return KernelCreateEventA(lpEventAttributes, bManualReset, bInitialState, lpName);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, std::size_t dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId)
{
    return KernelCreateThread(lpThreadAttributes, dwStackSize, lpStartAddress, lpParameter, dwCreationFlags,
                              lpThreadId);
}
