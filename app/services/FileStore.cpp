#include "app/services/FileStore.h"

#include "app/ui/AppPlatform.h"
#include "platform/ReplacingFile.h"

SaveResult SaveFileReplacing(const std::string& strPath, const void* pData, std::size_t cbData, FileErrorCause* pCause)
{
    *pCause = FileErrorCause::none;
    DWORD dwError = 0;
    // A target the user may not replace (read-only, open elsewhere) is
    // refused before anything is written.
    if (PlatformFileExists(strPath) && !PlatformProbeWritable(strPath, &dwError))
        return SaveCantOpen;

    CReplacingFile file;
    if (file.Create(strPath) != 0)
        return SaveCantOpen;  // the folder cannot take a new file
    dwError = static_cast<DWORD>(file.Write(pData, cbData));
    if (dwError == 0)
        dwError = static_cast<DWORD>(file.Commit());
    if (dwError == 0)
        return SaveOk;
    file.Discard();
    *pCause = FileErrorCauseFromOsError(dwError);
    if (*pCause == FileErrorCause::none)
        *pCause = FileErrorCause::generic;
    return SaveFailed;
}
