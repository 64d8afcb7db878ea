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

BOOL SaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath)
{
    std::string strFilter = FilterToNulSeparated(pszFilter);
    return PlatformSaveAsDialog(hOwner, strFilter.c_str(), pszDefExt, strPath);
}
