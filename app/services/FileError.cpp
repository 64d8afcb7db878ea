#include "app/services/FileError.h"

using enum FileErrorCause;

namespace {

struct ErrorCause {
    DWORD dwError;
    FileErrorCause cause;
};

// Win32 error codes (winerror.h) by the cause the user is shown; every code
// not listed is "generic".
constexpr ErrorCause kCauses[] = {
    {2, fileNotFound},      {3, badPath},         {4, tooManyOpenFiles},  {5, accessDenied},
    {6, invalidFile},       {11, invalidFile},    {12, accessDenied},     {15, badPath},
    {16, removeCurrentDir}, {17, badPath},        {18, fileNotFound},     {19, accessDenied},
    {20, hardIO},           {21, hardIO},         {22, hardIO},           {23, hardIO},
    {24, badSeek},          {25, badSeek},        {26, invalidFile},      {27, badSeek},
    {29, hardIO},           {30, hardIO},         {31, hardIO},           {32, sharingViolation},
    {33, lockViolation},    {34, badPath},        {36, tooManyOpenFiles}, {38, endOfFile},
    {39, diskFull},         {53, badPath},        {55, badPath},          {65, accessDenied},
    {67, badPath},          {80, accessDenied},   {82, accessDenied},     {107, fileNotFound},
    {108, lockViolation},   {111, badPath},       {112, diskFull},        {113, tooManyOpenFiles},
    {123, badPath},         {131, badSeek},       {132, badSeek},         {145, removeCurrentDir},
    {161, badPath},         {167, lockViolation}, {183, accessDenied},    {206, badPath},
    {267, badPath},         {995, hardIO},        {1117, hardIO},
};

constexpr const char* kTexts[] = {
    "No error occurred.",
    "An unknown error occurred while accessing %1.",
    "%1 was not found.",
    "%1 contains an invalid path.",
    "%1 could not be opened because there are too many open files.",
    "Access to %1 was denied.",
    "An invalid file handle was associated with %1.",
    "%1 could not be removed because it is the current directory.",
    "%1 could not be created because the directory is full.",
    "Seek failed on %1",
    "A hardware I/O error was reported while accessing %1.",
    "A sharing violation occurred while accessing %1.",
    "A locking violation occurred while accessing %1.",
    "Disk full while accessing %1.",
    "An attempt was made to access %1 past its end.",
};

}  // namespace

FileErrorCause FileErrorCauseFromOsError(DWORD dwError)
{
    if (dwError == 0)
        return none;
    for (const ErrorCause& entry : kCauses)
        if (entry.dwError == dwError)
            return entry.cause;
    return generic;
}

std::string FileErrorText(FileErrorCause cause, const std::string& strPath)
{
    std::size_t nIndex = static_cast<std::size_t>(cause);
    std::string strText = nIndex < std::size(kTexts) ? kTexts[nIndex] : kTexts[static_cast<std::size_t>(generic)];
    std::size_t nAt = strText.find("%1");
    if (nAt == std::string::npos)
        return strText;
    return strText.substr(0, nAt) + strPath + strText.substr(nAt + 2);
}
