// Writing a whole file so that a failure never costs the old one: the data
// goes to a new file beside the target, which replaces the target only once
// it has been written and closed completely.
#pragma once

#include <cstddef>
#include <string>

#include "app/services/FileError.h"

enum SaveResult {
    SaveOk = 0,
    SaveCantOpen,  // the target or its folder cannot be written at all
    SaveFailed     // writing or replacing failed; see the cause
};

SaveResult SaveFileReplacing(const std::string& strPath, const void* pData, std::size_t cbData, FileErrorCause* pCause);
