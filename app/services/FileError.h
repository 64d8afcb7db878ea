// Why a file operation failed, as the user is told: a Win32 error code is
// mapped to one of fifteen causes, each with its message.
#pragma once

#include <string>

#include "app/ui/UiApi.h"

enum class FileErrorCause {
    none = 0,
    generic = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14
};

FileErrorCause FileErrorCauseFromOsError(DWORD dwError);
// The cause's message with %1 replaced by strPath.
std::string FileErrorText(FileErrorCause cause, const std::string& strPath);
