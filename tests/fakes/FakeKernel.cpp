// The real kernel objects of serial/posix/Kernel.cpp, with the three calls
// that FakeWin32.cpp puts recording and fault injection in front of renamed.
#define CreateEventA KernelCreateEventA
#define CreateThread KernelCreateThread
#define CloseHandle KernelCloseHandle
#include "serial/posix/Kernel.cpp"
