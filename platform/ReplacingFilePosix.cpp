// The replacing file on POSIX systems: a hidden temporary beside the target,
// fsync before the rename and of the folder after it, so a crash or a power
// loss leaves the old file or the new one, and success means the new one.
#include "platform/ReplacingFile.h"
#include "platform/ReplacingFilePosix.h"
#include "platform/WriteAllPosix.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kTempNameTries = 100;
constexpr int kMaxLinkHops = 40;  // as the kernel follows them before ELOOP

// The folder of a path, for opening it: "." for a bare name.
std::string FolderOf(const std::string& path)
{
    const std::size_t nSlash = path.rfind('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : path.substr(0, nSlash);
}

// The path up to and with its last slash: "" for a bare name.
std::string FolderPrefix(const std::string& path)
{
    const std::size_t nSlash = path.rfind('/');
    return nSlash == std::string::npos ? std::string() : path.substr(0, nSlash + 1);
}

// A symbolic link is followed to the file it names, so that the rename
// replaces that file and the link stays; a link that dangles names the file
// to create. Returns 0 or errno.
int FollowLinks(std::string* pPath)
{
    for (int nHop = 0; nHop < kMaxLinkHops; ++nHop) {
        char sz[PATH_MAX];
        const ssize_t n = readlink(pPath->c_str(), sz, sizeof sz);
        if (n < 0)
            return errno == EINVAL || errno == ENOENT ? 0 : errno;  // not a link, or nothing there yet
        if (static_cast<std::size_t>(n) >= sizeof sz)
            return ENAMETOOLONG;
        const std::string target(sz, static_cast<std::size_t>(n));
        *pPath = target[0] == '/' ? target : FolderPrefix(*pPath) + target;
    }
    return ELOOP;
}

// Errors that say the folder cannot be synced at all, not that syncing it
// failed: file systems without fsync on a folder (EINVAL, EROFS, ENOTSUP) and
// a folder that takes new files but may not be read, so cannot be opened.
bool CannotSyncFolder(int nError)
{
    return nError == EINVAL || nError == EROFS || nError == ENOTSUP || nError == EACCES || nError == EPERM;
}

// The rename is an entry in the folder: it is on the disk only once the
// folder is. Where the folder cannot be synced the rename stands as done;
// an I/O error fails the save.
int SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int nError = fd < 0 ? errno : 0;
    if (fd >= 0) {
        nError = fsync(fd) == 0 ? 0 : errno;
        close(fd);
    }
    return CannotSyncFolder(nError) ? 0 : nError;
}

}  // namespace

CReplacingFile::~CReplacingFile() { Discard(); }

// ".~tccN.tmp" beside the target, whose own name may be as long as the file
// system allows. Mode 0666 less the umask, as for any new file; the umask is
// never read by setting it, which would change it for every thread of the
// process. O_EXCL steps over a name someone else holds (a symbolic link
// included).
unsigned long CReplacingFile::Create(const std::string& targetPath)
{
    Discard();
    m_strTarget = targetPath;
    if (const int nError = FollowLinks(&m_strTarget))
        return static_cast<unsigned long>(nError);
    const std::string prefix = FolderPrefix(m_strTarget) + ".~tcc";
    for (int nTry = 0; nTry < kTempNameTries; ++nTry) {
        const std::string temp = prefix + std::to_string(nTry) + ".tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_hFile = fd;
            m_strTemp = temp;
            return 0;
        }
        if (errno != EEXIST)
            return static_cast<unsigned long>(errno);
    }
    return EEXIST;
}

unsigned long CReplacingFile::Write(const void* pBytes, std::size_t count)
{
    return WriteAll(static_cast<int>(m_hFile), pBytes, count);
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
    return static_cast<unsigned long>(SyncFolder(FolderOf(m_strTarget)));
}

void CReplacingFile::Discard()
{
    DiscardNewFile(m_hFile, m_strTemp);
    m_bOnDisk = false;
}
