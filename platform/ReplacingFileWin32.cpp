// The replacing file on Windows: ".~tccN.tmp" beside the target, on the same
// volume, so the final move is a rename and not a copy; its name is as short
// whatever the target's, which may be as long as the file system allows.
#include "platform/ReplacingFile.h"

#include "platform/Win32Types.h"

#include <algorithm>

namespace {

constexpr int kTempNameTries = 100;
constexpr std::size_t kMaxWrite = 1u << 20;

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The path up to and with its last separator (or drive colon): "" for a bare name.
std::string FolderPrefix(const std::string& path)
{
    const std::size_t nEnd = path.find_last_of("\\/:");
    return nEnd == std::string::npos ? std::string() : path.substr(0, nEnd + 1);
}

}  // namespace

CReplacingFile::~CReplacingFile() { Discard(); }

// CREATE_NEW, not shared with any other process while it is written; a name
// somebody else holds is stepped over.
unsigned long CReplacingFile::Create(const std::string& targetPath)
{
    Discard();
    m_strTarget = targetPath;
    DWORD dwError = ERROR_FILE_EXISTS;
    for (int nTry = 0; nTry < kTempNameTries; ++nTry) {
        const std::string temp = FolderPrefix(targetPath) + ".~tcc" + std::to_string(nTry) + ".tmp";
        HANDLE h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            m_hFile = reinterpret_cast<std::intptr_t>(h);
            m_strTemp = temp;
            return 0;
        }
        dwError = ::GetLastError();
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS)
            break;
    }
    return dwError;
}

// A write that takes no bytes is a full disk.
unsigned long CReplacingFile::Write(const void* pBytes, std::size_t count)
{
    const char* p = static_cast<const char*>(pBytes);
    while (count > 0) {
        const DWORD dwWant = static_cast<DWORD>(std::min(count, kMaxWrite));
        DWORD dwDone = 0;
        if (!::WriteFile(AsHandle(m_hFile), p, dwWant, &dwDone, nullptr))
            return ::GetLastError();
        if (dwDone == 0)
            return ERROR_DISK_FULL;
        p += dwDone;
        count -= dwDone;
    }
    return 0;
}

// Space the file system only allocates on flush must fail here, not after
// the old file has been replaced.
unsigned long CReplacingFile::Commit()
{
    if (!::FlushFileBuffers(AsHandle(m_hFile)))
        return ::GetLastError();
    const BOOL bClosed = ::CloseHandle(AsHandle(m_hFile));
    m_hFile = -1;
    if (!bClosed)
        return ::GetLastError();
    m_bOnDisk = true;
    if (!::MoveFileExA(m_strTemp.c_str(), m_strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ::GetLastError();
    m_strTemp.clear();
    return 0;
}

void CReplacingFile::Discard()
{
    if (m_hFile != -1)
        ::CloseHandle(AsHandle(m_hFile));
    m_hFile = -1;
    if (!m_strTemp.empty())
        ::DeleteFileA(m_strTemp.c_str());
    m_strTemp.clear();
    m_bOnDisk = false;
}
