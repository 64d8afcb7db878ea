// A fresh folder for one test's files, under the system's temporary folder
// (TMPDIR when set, as std::filesystem reads it): a machine whose /tmp is
// closed to new entries still runs the tests.
#pragma once

#include <filesystem>
#include <string>

#include <stdlib.h>

// Empty when no folder could be made.
inline std::string MakeTempFolder(const char* pszPrefix)
{
    std::error_code error;
    std::string strTemplate = (std::filesystem::temp_directory_path(error) / pszPrefix).string() + "-XXXXXX";
    if (error || mkdtemp(strTemplate.data()) == nullptr)
        return std::string();
    return strTemplate;
}
