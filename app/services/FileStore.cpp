#include "app/services/FileStore.h"

#include "app/ui/AppPlatform.h"

namespace {

constexpr DWORD kErrorFileExists = 80;     // ERROR_FILE_EXISTS
constexpr DWORD kErrorAlreadyExists = 183; // ERROR_ALREADY_EXISTS
constexpr int kTempNameTries = 100;

}  // namespace

SaveResult SaveFileReplacing(const std::string& strPath, const void* pData, std::size_t cbData,
                             FileErrorCause* pCause)
{
    *pCause = FileErrorCause::none;
    DWORD dwError = 0;
    // A target the user may not replace (read-only, open elsewhere) is
    // refused before anything is written.
    if (PlatformFileExists(strPath) && !PlatformProbeWritable(strPath, &dwError))
        return SaveCantOpen;

    // The new file sits beside the target, on the same volume, so that the
    // final replace is a rename and not a copy.
    for (int nTry = 0; nTry < kTempNameTries; ++nTry) {
        std::string strTemp = strPath + ".~" + std::to_string(nTry) + ".tmp";
        dwError = 0;
        if (PlatformWriteNewFile(strTemp, pData, cbData, &dwError)) {
            if (PlatformReplaceFile(strTemp, strPath, &dwError))
                return SaveOk;
        } else if (dwError == kErrorFileExists || dwError == kErrorAlreadyExists) {
            continue;
        } else if (!PlatformFileExists(strTemp)) {
            return SaveCantOpen;  // the folder cannot take a new file
        }
        PlatformDeleteFile(strTemp);
        *pCause = FileErrorCauseFromOsError(dwError);
        if (*pCause == FileErrorCause::none)
            *pCause = FileErrorCause::generic;
        return SaveFailed;
    }
    return SaveCantOpen;
}
