#include "app/ui/FileDialog.h"

#include "app/ui/AppPlatform.h"

std::string FilterToNulSeparated(const char* pszFilter)
{
    std::string strFilter(pszFilter);
    for (char& ch : strFilter)
        if (ch == '|')
            ch = '\0';
    return strFilter;
}

SaveAsResult SaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath)
{
    std::string strFilter = FilterToNulSeparated(pszFilter);
    // Owned as the message boxes are: by the innermost modal window over
    // hOwner, so closing that window cannot re-enable hOwner under Save As.
    hOwner = PlatformModalOwner(hOwner);
    DWORD dwError = 0;
    if (PlatformSaveAsDialog(hOwner, strFilter.c_str(), pszDefExt, strPath, &dwError))
        return SaveAsChosen;
    if (dwError == 0)
        return SaveAsCancelled;
    // The dialog refused the proposed name (a remembered name with characters
    // a file name may not hold, or too long) before the user saw anything:
    // offer it again without a name rather than discard the image.
    std::string strChosen;
    if (PlatformSaveAsDialog(hOwner, strFilter.c_str(), pszDefExt, strChosen, &dwError)) {
        strPath = strChosen;
        return SaveAsChosen;
    }
    return dwError == 0 ? SaveAsCancelled : SaveAsFailed;
}
