// A message box and nothing else: the driver's own check, independent of the
// program under test. Exits with the id of the button that closed the box.
#include <windows.h>

int main() { return MessageBoxA(nullptr, "Probe text, line one.", "guidriver-probe", MB_OK | MB_ICONEXCLAMATION); }
