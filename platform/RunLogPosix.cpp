// The run log on POSIX systems: O_APPEND writes, and flock on the log itself
// around the size check and the move.
#include "platform/RunLog.h"
#include "platform/WriteAllPosix.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kOpenTries = 5;
constexpr int kLockPolls = 50;  // of 2 ms: a writer holds it for one line
constexpr long kLockPollNs = 2000000;

// Each missing folder above the log, private to the user as the XDG state
// folder is meant to be. What cannot be made is left for the open to report.
void MakeFolders(const std::string& path)
{
    for (std::size_t nSlash = path.find('/', 1); nSlash != std::string::npos; nSlash = path.find('/', nSlash + 1))
        mkdir(path.substr(0, nSlash).c_str(), 0700);
}

// Only a regular file is a log: what is not (a FIFO nothing reads, a device
// linked in its place) is refused before it is opened, and the open does not
// block should one appear in between. Opened for reading too, where the
// mode allows, so that the log's last byte can be looked at.
int OpenLog(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int nFlags = O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = open(path.c_str(), O_RDWR | nFlags, 0600);
    if (fd < 0 && errno == EACCES)
        fd = open(path.c_str(), O_WRONLY | nFlags, 0600);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool TakeLock(int fd)
{
    const timespec pause{0, kLockPollNs};
    for (int nPoll = 0; nPoll < kLockPolls; ++nPoll) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        nanosleep(&pause, nullptr);
    }
    return false;
}

enum OpenedLog { LOG_READY, LOG_MOVED };

// With the lock: a log another process moved meanwhile is opened again, a
// full one is moved. Without it the line goes where the descriptor points.
OpenedLog CheckLog(int fd, const std::string& path)
{
    if (!TakeLock(fd))
        return LOG_READY;
    struct stat open {
    }, named{};
    if (fstat(fd, &open) != 0)
        return LOG_READY;
    if (stat(path.c_str(), &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev)
        return LOG_MOVED;
    if (static_cast<std::uint64_t>(open.st_size) < kRunLogLimit)
        return LOG_READY;
    return rename(path.c_str(), RunLogOlderPath(path).c_str()) == 0 ? LOG_MOVED : LOG_READY;
}

// BOOL: the log is empty or its last line is whole. One cut short (a full
// disk, a file size limit, a crash) gets its end from the next line, so that
// each stays a line of its own. Unreadable: taken as whole.
int EndsLine(int fd)
{
    struct stat st {};
    char cLast = '\n';
    if (fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &cLast, 1, st.st_size - 1) != 1)
        cLast = '\n';
    return cLast == '\n' ? 1 : 0;
}

}  // namespace

std::string RunLogPath()
{
    const char* pszState = std::getenv("XDG_STATE_HOME");
    if (pszState != nullptr && pszState[0] == '/')
        return std::string(pszState) + "/tcc-upload/runs.jsonl";
    const char* pszHome = std::getenv("HOME");
    if (pszHome == nullptr || pszHome[0] != '/')
        return std::string();
    return std::string(pszHome) + "/.local/state/tcc-upload/runs.jsonl";
}

unsigned long AppendRunLogLine(const std::string& path, const std::string& line, RunLogOpenedHook pfnOpened,
                               void* pContext)
{
    if (path.empty())
        return ENOENT;
    MakeFolders(path);
    for (int nTry = 0; nTry < kOpenTries; ++nTry) {
        const int fd = OpenLog(path);
        if (fd < 0)
            return static_cast<unsigned long>(errno);
        if (pfnOpened != nullptr)
            pfnOpened(pContext);
        const OpenedLog nOpened = CheckLog(fd, path);
        unsigned long dwError = 0;
        if (nOpened == LOG_READY) {
            const std::string text = (EndsLine(fd) ? "" : "\n") + line + "\n";
            dwError = WriteAll(fd, text.data(), text.size());
        }
        close(fd);  // and the lock with it
        if (nOpened == LOG_READY)
            return dwError;
    }
    return EAGAIN;
}
