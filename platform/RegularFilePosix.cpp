// stat follows links, so a link to a file is a file.
#include <sys/stat.h>

#include "platform/RegularFile.h"

int IsRegularFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}
