// Whether a path names a regular file, asked without opening it: on Linux a
// folder opens as a file does, and opening a FIFO waits for a writer.
#pragma once

#include <string>

// BOOL: the path (a link followed) is a regular file. One source file per
// platform, picked by the build.
int IsRegularFile(const std::string& path);
