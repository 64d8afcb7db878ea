// The headless backend's operating-system services: module path and folders
// injected, sockets and Save As scripted, profiles as real INI files, files
// written with POSIX calls whose failures a test can inject.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/ui/AppPlatform.h"
#include "tests/fakes/headless/Headless.h"

void HeadlessResetUser32();

namespace {

struct PlatformState {
    std::string strModulePath = "/opt/tcc/TandrelConfigurationController.exe";
    std::string strAppData;
    std::string strWindows = ".";
    BOOL bSocketsOk = TRUE;
    WORD wSocketsVersion = MAKEWORD(1, 1);
    int nStartups = 0;
    int nCleanups = 0;
    HeadlessSaveAsHandler fnSaveAs;
    std::vector<HeadlessSaveAsRequest> saveAsRequests;
    std::vector<std::string> profileLog;
    std::optional<DWORD> injected[FileOpReplace + 1];
};

PlatformState& State()
{
    static PlatformState state;
    return state;
}

BOOL TakeInjected(HeadlessFileOp op, DWORD* pdwError)
{
    std::optional<DWORD>& slot = State().injected[op];
    if (!slot)
        return FALSE;
    *pdwError = *slot;
    slot.reset();
    return TRUE;
}

DWORD Win32ErrorFromErrno(int nErrno)
{
    switch (nErrno) {
    case ENOENT:
    case ENOTDIR:
        return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return 5;  // ERROR_ACCESS_DENIED
    case EMFILE:
    case ENFILE:
        return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EEXIST:
        return 80;  // ERROR_FILE_EXISTS
    case ENOSPC:
    case EDQUOT:
        return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG:
        return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EIO:
        return 1117;  // ERROR_IO_DEVICE
    default:
        return 31;  // ERROR_GEN_FAILURE
    }
}

// --- a small INI file: [section] lines and key=value lines, names compared
// without regard to case, as the Win32 profile calls do.


std::string Trim(const std::string& str)
{
    std::size_t nBegin = str.find_first_not_of(" \t\r");
    if (nBegin == std::string::npos)
        return std::string();
    std::size_t nEnd = str.find_last_not_of(" \t\r");
    return str.substr(nBegin, nEnd - nBegin + 1);
}

BOOL SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::vector<std::string> ReadLines(const std::string& strPath)
{
    std::vector<std::string> lines;
    std::ifstream file(strPath);
    for (std::string strLine; std::getline(file, strLine);) {
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        lines.push_back(strLine);
    }
    return lines;
}

BOOL IsSectionLine(const std::string& strLine, std::string* pstrName)
{
    std::string strTrimmed = Trim(strLine);
    if (strTrimmed.size() < 2 || strTrimmed.front() != '[' || strTrimmed.back() != ']')
        return FALSE;
    *pstrName = Trim(strTrimmed.substr(1, strTrimmed.size() - 2));
    return TRUE;
}

BOOL IsKeyLine(const std::string& strLine, const char* pszKey, std::string* pstrValue)
{
    std::size_t nEquals = strLine.find('=');
    if (nEquals == std::string::npos || !SameName(Trim(strLine.substr(0, nEquals)), pszKey))
        return FALSE;
    *pstrValue = Trim(strLine.substr(nEquals + 1));
    return TRUE;
}

std::optional<std::string> IniGet(const std::string& strPath, const char* pszSection, const char* pszKey)
{
    BOOL bInSection = FALSE;
    for (const std::string& strLine : ReadLines(strPath)) {
        std::string strName, strValue;
        if (IsSectionLine(strLine, &strName))
            bInSection = SameName(strName, pszSection);
        else if (bInSection && IsKeyLine(strLine, pszKey, &strValue))
            return strValue;
    }
    return std::nullopt;
}

BOOL IniSet(const std::string& strPath, const char* pszSection, const char* pszKey, const char* pszValue)
{
    std::vector<std::string> lines = ReadLines(strPath);
    std::string strEntry = std::string(pszKey) + "=" + pszValue;
    std::size_t nSectionEnd = std::string::npos;
    BOOL bInSection = FALSE;
    BOOL bDone = FALSE;
    for (std::size_t i = 0; i < lines.size() && !bDone; ++i) {
        std::string strName, strValue;
        if (IsSectionLine(lines[i], &strName)) {
            bInSection = SameName(strName, pszSection);
            if (bInSection)
                nSectionEnd = i + 1;
        } else if (bInSection && IsKeyLine(lines[i], pszKey, &strValue)) {
            lines[i] = strEntry;
            bDone = TRUE;
        } else if (bInSection && !Trim(lines[i]).empty()) {
            nSectionEnd = i + 1;
        }
    }
    if (!bDone && nSectionEnd != std::string::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(nSectionEnd), strEntry);
    } else if (!bDone) {
        lines.push_back("[" + std::string(pszSection) + "]");
        lines.push_back(strEntry);
    }
    std::ofstream file(strPath, std::ios::trunc);
    for (const std::string& strLine : lines)
        file << strLine << "\r\n";
    return file.good() ? TRUE : FALSE;
}

}  // namespace

void PlatformSetInstance(HINSTANCE) {}
HINSTANCE PlatformInstance() { return nullptr; }
std::string PlatformModulePath() { return State().strModulePath; }
std::string PlatformAppDataFolder() { return State().strAppData; }
std::string PlatformWindowsFolder() { return State().strWindows; }
char PlatformPathSeparator() { return '/'; }

BOOL PlatformSocketsStartup(WORD, WORD* pwVersionGranted)
{
    ++State().nStartups;
    *pwVersionGranted = State().wSocketsVersion;
    return State().bSocketsOk;
}

void PlatformSocketsCleanup() { ++State().nCleanups; }

BOOL PlatformSaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath)
{
    std::size_t cchFilter = 0;
    while (pszFilter[cchFilter] != '\0' || pszFilter[cchFilter + 1] != '\0')
        ++cchFilter;
    HeadlessSaveAsRequest request{hOwner, std::string(pszFilter, cchFilter + 2), pszDefExt, strPath};
    State().saveAsRequests.push_back(request);
    HeadlessSaveAsHandler fnHandler = State().fnSaveAs;
    return fnHandler ? fnHandler(request, strPath) : FALSE;
}

std::string PlatformProfileGetString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                     const char* pszDefault)
{
    State().profileLog.push_back(std::string("R ") + pszSection + "/" + pszKey);
    return IniGet(strPath, pszSection, pszKey).value_or(pszDefault);
}

// As GetPrivateProfileInt: an optional sign and the leading digits; a value
// that does not start with a number reads as 0.
int PlatformProfileGetInt(const std::string& strPath, const char* pszSection, const char* pszKey, int nDefault)
{
    State().profileLog.push_back(std::string("R ") + pszSection + "/" + pszKey);
    std::optional<std::string> value = IniGet(strPath, pszSection, pszKey);
    return value ? static_cast<int>(std::strtol(value->c_str(), nullptr, 10)) : nDefault;
}

BOOL PlatformProfileWriteString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                const char* pszValue)
{
    State().profileLog.push_back(std::string("W ") + pszSection + "/" + pszKey + "=" + pszValue);
    return IniSet(strPath, pszSection, pszKey, pszValue);
}

BOOL PlatformFileExists(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

BOOL PlatformCreateFolder(const std::string& strPath) { return mkdir(strPath.c_str(), 0700) == 0 || errno == EEXIST; }

BOOL PlatformCopyFile(const std::string& strFrom, const std::string& strTo)
{
    if (PlatformFileExists(strTo))
        return FALSE;
    std::ifstream in(strFrom, std::ios::binary);
    std::ofstream out(strTo, std::ios::binary);
    out << in.rdbuf();
    return out.good() ? TRUE : FALSE;
}

BOOL PlatformDeleteFile(const std::string& strPath) { return unlink(strPath.c_str()) == 0; }

BOOL PlatformProbeWritable(const std::string& strPath, DWORD* pdwError)
{
    if (TakeInjected(FileOpProbe, pdwError))
        return FALSE;
    int fd = open(strPath.c_str(), O_WRONLY);
    if (fd < 0) {
        *pdwError = Win32ErrorFromErrno(errno);
        return FALSE;
    }
    close(fd);
    return TRUE;
}

BOOL PlatformWriteNewFile(const std::string& strPath, const void* pData, std::size_t cbData, DWORD* pdwError)
{
    if (TakeInjected(FileOpCreate, pdwError))
        return FALSE;
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        *pdwError = Win32ErrorFromErrno(errno);
        return FALSE;
    }
    BOOL bOk = TRUE;
    std::size_t cbToWrite = cbData;
    if (State().injected[FileOpWrite])
        cbToWrite = cbData / 2;  // the disk fills up half-way
    const char* p = static_cast<const char*>(pData);
    for (std::size_t cbDone = 0; cbDone < cbToWrite;) {
        ssize_t n = write(fd, p + cbDone, cbToWrite - cbDone);
        if (n < 0) {
            *pdwError = Win32ErrorFromErrno(errno);
            bOk = FALSE;
            break;
        }
        cbDone += static_cast<std::size_t>(n);
    }
    if (bOk && TakeInjected(FileOpWrite, pdwError))
        bOk = FALSE;
    if (close(fd) != 0 && bOk) {
        *pdwError = Win32ErrorFromErrno(errno);
        bOk = FALSE;
    }
    if (bOk && TakeInjected(FileOpClose, pdwError))
        bOk = FALSE;
    return bOk;
}

BOOL PlatformReplaceFile(const std::string& strFrom, const std::string& strTo, DWORD* pdwError)
{
    if (TakeInjected(FileOpReplace, pdwError))
        return FALSE;
    if (rename(strFrom.c_str(), strTo.c_str()) != 0) {
        *pdwError = Win32ErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

// --- Headless.h -------------------------------------------------------------

void HeadlessSetSaveAsHandler(HeadlessSaveAsHandler fnHandler) { State().fnSaveAs = std::move(fnHandler); }
std::vector<HeadlessSaveAsRequest> HeadlessSaveAsRequests() { return State().saveAsRequests; }
void HeadlessSetModulePath(const std::string& strPath) { State().strModulePath = strPath; }

void HeadlessSetFolders(const std::string& strAppData, const std::string& strWindows)
{
    State().strAppData = strAppData;
    State().strWindows = strWindows;
}

void HeadlessSetSockets(BOOL bStartOk, WORD wVersionGranted)
{
    State().bSocketsOk = bStartOk;
    State().wSocketsVersion = wVersionGranted;
}

int HeadlessSocketsStartups() { return State().nStartups; }
int HeadlessSocketsCleanups() { return State().nCleanups; }
std::vector<std::string> HeadlessProfileLog() { return State().profileLog; }
void HeadlessInjectFileError(HeadlessFileOp op, DWORD dwError) { State().injected[op] = dwError; }

void HeadlessReset()
{
    State() = PlatformState();
    HeadlessResetUser32();
}
