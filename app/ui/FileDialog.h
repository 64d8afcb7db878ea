// The Save As dialog: no read-only check box, a prompt before replacing.
#pragma once

#include <string>

#include "app/ui/UiApi.h"

// "Description|pattern|...||" as the dialog wants it: NUL-separated pairs
// ending in two NULs (the returned string's own terminator is the second).
std::string FilterToNulSeparated(const char* pszFilter);

// strPath: in, the initial name; out, the chosen full path. FALSE: cancelled.
// The dialog is owned by the innermost modal window over hOwner.
BOOL SaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath);
