// A whole buffer written to a descriptor, past short writes and signals: the
// replacing file, the run log and tcc-upload's standard streams share it.
#pragma once

#include <cerrno>
#include <cstddef>

#include <unistd.h>

// 0, or the errno of the write that failed (EFBIG past a file size limit,
// ENOSPC on a full disk, EPIPE for a reader gone); EIO when the system took
// nothing and named no error.
inline unsigned long WriteAll(int fd, const void* pBytes, std::size_t count)
{
    const char* p = static_cast<const char*>(pBytes);
    while (count > 0) {
        const ssize_t n = write(fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? static_cast<unsigned long>(errno) : EIO;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return 0;
}
