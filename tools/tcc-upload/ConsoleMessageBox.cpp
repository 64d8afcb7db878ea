// The command-line front end's message box: one line on standard error. It
// returns at once, so a worker that "waits for the user" simply goes on.
#include "platform/AppMessageBox.h"
#include "tools/tcc-upload/Console.h"

int AppMessageBox(const char* pszText, unsigned int /*nType*/)
{
    ConsoleMessage(pszText);
    return IDOK;
}
