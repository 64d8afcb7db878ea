// Whether a path names a regular file, asked without opening it: on Linux a
// folder opens as a file does, and opening a FIFO waits for a writer.
#pragma once

#include <string>

enum PathKind {
    PATH_MISSING,  // nothing by that name (a dangling link included)
    PATH_REGULAR,  // a regular file, a link to one included
    PATH_OTHER     // a folder, FIFO, socket or device, or what may not be looked at
};

// One source file per platform, picked by the build.
PathKind KindOfPath(const std::string& path);

// BOOL: the path (a link followed) is a regular file.
inline int IsRegularFile(const std::string& path) { return KindOfPath(path) == PATH_REGULAR ? 1 : 0; }
