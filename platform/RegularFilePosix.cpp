// stat follows links, so a link to a file is a file.
#include <cerrno>

#include <sys/stat.h>

#include "platform/RegularFile.h"

PathKind KindOfPath(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? PATH_MISSING : PATH_OTHER;
    return S_ISREG(st.st_mode) ? PATH_REGULAR : PATH_OTHER;
}
