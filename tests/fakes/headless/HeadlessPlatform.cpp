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
#include "platform/ReplacingFile.h"
#include "platform/ReplacingFilePosix.h"
#include "tests/fakes/headless/Headless.h"

void HeadlessResetUser32();
void HeadlessOpenPopup(HWND hPopup);
void HeadlessClosePopup(HWND hPopup);

namespace {

// What GetSaveFileName refuses in the initial name before showing anything.
const char kInvalidNameChars[] = "<>\"|?*";
constexpr DWORD kFnErrInvalidFileName = 0x3002;

struct PlatformState {
    std::string strModulePath = "/opt/tcc/TandrelConfigurationController.exe";
    std::string strAppData;
    std::string strDocuments;
    std::string strWindows = ".";
    BOOL bSocketsOk = TRUE;
    WORD wSocketsVersion = MAKEWORD(1, 1);
    int nStartups = 0;
    int nCleanups = 0;
    HeadlessSaveAsHandler fnSaveAs;
    int nSaveAsFailures = 0;
    DWORD dwSaveAsError = 0;
    std::vector<HeadlessSaveAsRequest> saveAsRequests;
    std::vector<std::string> profileLog;
    std::optional<DWORD> injected[FileOpReplace + 1];
    std::vector<std::string> serialPorts;
    int nSerialPortReads = 0;
};

constexpr int kTempNameTries = 100;

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
    case ENOTDIR: return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return 5;  // ERROR_ACCESS_DENIED
    case EMFILE:
    case ENFILE: return 4;   // ERROR_TOO_MANY_OPEN_FILES
    case EEXIST: return 80;  // ERROR_FILE_EXISTS
    case ENOSPC:
    case EDQUOT: return 112;        // ERROR_DISK_FULL
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EIO: return 1117;          // ERROR_IO_DEVICE
    default: return 31;             // ERROR_GEN_FAILURE
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
        }
        else if (bInSection && IsKeyLine(lines[i], pszKey, &strValue)) {
            lines[i] = strEntry;
            bDone = TRUE;
        }
        else if (bInSection && !Trim(lines[i]).empty()) {
            nSectionEnd = i + 1;
        }
    }
    if (!bDone && nSectionEnd != std::string::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(nSectionEnd), strEntry);
    }
    else if (!bDone) {
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
std::string PlatformDocumentsFolder() { return State().strDocuments; }
std::string PlatformWindowsFolder() { return State().strWindows; }
std::string PlatformVirtualStoreFolder() { return std::string(); }  // no redirection here
char PlatformPathSeparator() { return '/'; }

std::vector<std::string> PlatformSerialPortNames()
{
    ++State().nSerialPortReads;
    return State().serialPorts;
}

BOOL PlatformSocketsStartup(WORD, WORD* pwVersionGranted)
{
    ++State().nStartups;
    *pwVersionGranted = State().wSocketsVersion;
    return State().bSocketsOk;
}

void PlatformSocketsCleanup() { ++State().nCleanups; }

BOOL PlatformSaveAsDialog(HWND hOwner, const char* pszFilter, const char* pszDefExt, std::string& strPath,
                          DWORD* pdwError)
{
    *pdwError = 0;
    if (strPath.find_first_of(kInvalidNameChars) != std::string::npos) {
        *pdwError = kFnErrInvalidFileName;
        return FALSE;
    }
    if (State().nSaveAsFailures > 0) {
        --State().nSaveAsFailures;
        *pdwError = State().dwSaveAsError;
        return FALSE;
    }
    std::size_t cchFilter = 0;
    while (pszFilter[cchFilter] != '\0' || pszFilter[cchFilter + 1] != '\0')
        ++cchFilter;
    HWND__ dialog;
    dialog.strClass = "#32770";
    dialog.strText = "Save As";
    dialog.pParent = hOwner;
    HeadlessOpenPopup(&dialog);
    HeadlessSaveAsRequest request{hOwner, &dialog, std::string(pszFilter, cchFilter + 2), pszDefExt, strPath};
    State().saveAsRequests.push_back(request);
    HeadlessSaveAsHandler fnHandler = State().fnSaveAs;
    HeadlessDeliverPosted();
    BOOL bSaved = fnHandler ? fnHandler(request, strPath) : FALSE;
    HeadlessDeliverPosted();
    HeadlessClosePopup(&dialog);
    return bSaved;
}

std::string PlatformProfileGetString(const std::string& strPath, const char* pszSection, const char* pszKey,
                                     const char* pszDefault)
{
    State().profileLog.push_back(std::string("R ") + pszSection + "/" + pszKey);
    return IniGet(strPath, pszSection, pszKey).value_or(pszDefault);
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

// The replacing file as Windows' behaves: ".~tccN.tmp" beside the target,
// Win32 error codes, and each step can be made to fail.
CReplacingFile::~CReplacingFile() { Discard(); }

unsigned long CReplacingFile::Create(const std::string& targetPath)
{
    Discard();
    m_strTarget = targetPath;
    DWORD dwError = 0;
    if (TakeInjected(FileOpCreate, &dwError))
        return dwError;
    for (int nTry = 0; nTry < kTempNameTries; ++nTry) {
        const std::size_t nSlash = targetPath.rfind('/');
        const std::string strFolder = nSlash == std::string::npos ? std::string() : targetPath.substr(0, nSlash + 1);
        const std::string strTemp = strFolder + ".~tcc" + std::to_string(nTry) + ".tmp";
        const int fd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            m_hFile = fd;
            m_strTemp = strTemp;
            return 0;
        }
        if (errno != EEXIST)
            return Win32ErrorFromErrno(errno);
    }
    return Win32ErrorFromErrno(EEXIST);
}

unsigned long CReplacingFile::Write(const void* pBytes, std::size_t count)
{
    if (State().injected[FileOpWrite])
        count /= 2;  // the disk fills up half-way
    const char* p = static_cast<const char*>(pBytes);
    for (std::size_t cbDone = 0; cbDone < count;) {
        const ssize_t n = write(static_cast<int>(m_hFile), p + cbDone, count - cbDone);
        if (n < 0)
            return Win32ErrorFromErrno(errno);
        cbDone += static_cast<std::size_t>(n);
    }
    DWORD dwError = 0;
    return TakeInjected(FileOpWrite, &dwError) ? dwError : 0;
}

unsigned long CReplacingFile::Commit()
{
    const int nClosed = close(static_cast<int>(m_hFile));
    m_hFile = -1;
    DWORD dwError = 0;
    if (nClosed != 0)
        return Win32ErrorFromErrno(errno);
    if (TakeInjected(FileOpClose, &dwError))
        return dwError;
    m_bOnDisk = true;
    if (TakeInjected(FileOpReplace, &dwError))
        return dwError;
    if (rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        return Win32ErrorFromErrno(errno);
    m_strTemp.clear();
    return 0;
}

void CReplacingFile::Discard()
{
    DiscardNewFile(m_hFile, m_strTemp);
    m_bOnDisk = false;
}

// --- Headless.h -------------------------------------------------------------

void HeadlessSetSaveAsHandler(HeadlessSaveAsHandler fnHandler) { State().fnSaveAs = std::move(fnHandler); }

void HeadlessFailSaveAs(int nTimes, DWORD dwError)
{
    State().nSaveAsFailures = nTimes;
    State().dwSaveAsError = dwError;
}
std::vector<HeadlessSaveAsRequest> HeadlessSaveAsRequests() { return State().saveAsRequests; }
void HeadlessSetModulePath(const std::string& strPath) { State().strModulePath = strPath; }

void HeadlessSetFolders(const std::string& strAppData, const std::string& strWindows)
{
    State().strAppData = strAppData;
    State().strWindows = strWindows;
}

void HeadlessSetDocumentsFolder(const std::string& strDocuments) { State().strDocuments = strDocuments; }

void HeadlessSetSockets(BOOL bStartOk, WORD wVersionGranted)
{
    State().bSocketsOk = bStartOk;
    State().wSocketsVersion = wVersionGranted;
}

void HeadlessSetSerialPorts(const std::vector<std::string>& names) { State().serialPorts = names; }
int HeadlessSerialPortReads() { return State().nSerialPortReads; }
int HeadlessSocketsStartups() { return State().nStartups; }
int HeadlessSocketsCleanups() { return State().nCleanups; }
std::vector<std::string> HeadlessProfileLog() { return State().profileLog; }
void HeadlessInjectFileError(HeadlessFileOp op, DWORD dwError) { State().injected[op] = dwError; }

void HeadlessReset()
{
    State() = PlatformState();
    HeadlessResetUser32();
}
