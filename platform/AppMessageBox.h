// The application's modal message box, as the layers below the window see it.
//
// serial/, link/ and retrieval/ never touch a GUI: they report to the user
// through this one function. Exactly one implementation is linked:
//   app/        the real Win32 message box (program name as caption, owned by
//               the main window, callable from a worker thread)
//   tools/      one line on standard error, for the command-line front end
//   tests/      a recorder that the test reads back
#pragma once

#ifdef _WIN32
#include "platform/Win32Types.h"
#else
// The Win32 values, so that callers read MB_OK | MB_ICONEXCLAMATION everywhere.
#define MB_OK 0x00000000u
#define MB_ICONHAND 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0u
#define IDOK 1
#define IDCANCEL 2
#endif

// Shows text in the application's modal message box and returns when the user
// has dismissed it. A style without an icon of its own gets the exclamation
// icon. Returns the button pressed (IDOK).
int AppMessageBox(const char* pszText, unsigned int nType = MB_OK);
