// The run log on POSIX systems: O_APPEND writes, and flock on the log itself
// around the size check and the move.
#include "platform/RunLog.h"

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

// Non-blocking: a FIFO in the log's place would otherwise hold the run until
// something reads it. Only a regular file is a log.
int OpenLog(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd < 0 || (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)))
        return fd;
    close(fd);
    errno = EINVAL;
    return -1;
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

// A line cut short (a full disk, a file size limit) still gets its end, so
// that the next run's line starts a line of its own.
int WriteWhole(int fd, const std::string& text)
{
    const ssize_t n = write(fd, text.data(), text.size());
    if (n >= 0 && static_cast<std::size_t>(n) == text.size())
        return 0;
    const int nError = n < 0 ? errno : ENOSPC;
    if (n > 0) {
        const ssize_t nEnd = write(fd, "\n", 1);  // the best that can be done
        static_cast<void>(nEnd);
    }
    return nError;
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
        const int nError = nOpened == LOG_READY ? WriteWhole(fd, line + "\n") : 0;
        close(fd);  // and the lock with it
        if (nOpened == LOG_READY)
            return static_cast<unsigned long>(nError);
    }
    return EAGAIN;
}
