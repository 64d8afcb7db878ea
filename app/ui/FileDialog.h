// The Save As dialog: no read-only check box, a prompt before replacing.
#pragma once

#include <string>

#include "app/ui/UiApi.h"

// "Description|pattern|...||" as the dialog wants it: NUL-separated pairs
// ending in two NULs (the returned string's own terminator is the second).
std::string FilterToNulSeparated(const char* pszFilter);

enum SaveAsResult {
    SaveAsChosen,     // strPath is the chosen full path
    SaveAsCancelled,  // the user cancelled
    SaveAsFailed      // the dialog could not be shown, not even without a name; strPath unchanged
};

// strPath: in, the initial name; out, the chosen full path.
// The dialog is owned by the innermost modal window over hOwner.
SaveAsResult SaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath);
