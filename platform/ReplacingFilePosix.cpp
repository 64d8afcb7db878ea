// The replacing file on POSIX systems: a hidden temporary beside the target,
// fsync before the rename, so a crash leaves the old file or the new one.
#include "platform/ReplacingFile.h"
#include "platform/ReplacingFilePosix.h"

#include <cerrno>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

CReplacingFile::~CReplacingFile() { Discard(); }

// mkstemp makes the file 0600; the target gets the usual umask'd 0666.
unsigned long CReplacingFile::Create(const std::string& targetPath)
{
    Discard();
    m_strTarget = targetPath;
    const std::size_t nSlash = targetPath.rfind('/');
    const std::size_t nName = nSlash == std::string::npos ? 0 : nSlash + 1;
    std::string temp = targetPath.substr(0, nName) + "." + targetPath.substr(nName) + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return static_cast<unsigned long>(errno);
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    m_hFile = fd;
    m_strTemp = temp;
    return 0;
}

unsigned long CReplacingFile::Write(const void* pBytes, std::size_t count)
{
    const char* p = static_cast<const char*>(pBytes);
    while (count > 0) {
        const ssize_t n = write(static_cast<int>(m_hFile), p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return static_cast<unsigned long>(errno);
        if (n == 0)
            return EIO;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return 0;
}

unsigned long CReplacingFile::Commit()
{
    if (fsync(static_cast<int>(m_hFile)) != 0)
        return static_cast<unsigned long>(errno);
    const int nClosed = close(static_cast<int>(m_hFile));
    m_hFile = -1;
    if (nClosed != 0)
        return static_cast<unsigned long>(errno);
    m_bOnDisk = true;
    if (rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        return static_cast<unsigned long>(errno);
    m_strTemp.clear();
    return 0;
}

void CReplacingFile::Discard()
{
    DiscardNewFile(m_hFile, m_strTemp);
    m_bOnDisk = false;
}
