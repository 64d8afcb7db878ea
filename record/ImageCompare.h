// An image held against other bytes: a file given to compare with, and the
// file a save is about to replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a read of a file found: at most the bytes asked for, and whether the
// file goes on beyond them.
struct FileBytes {
    std::vector<std::uint8_t> bytes;
    bool bLonger = false;
};

// Reads up to nLimit bytes of path. Returns 0 or the errno of the failure.
int ReadFileBytes(const std::string& path, std::size_t nLimit, FileBytes* pFile);

// The offset of the first byte where the image and the file differ (the
// shorter length when one is the start of the other); none when they are the
// same bytes.
std::optional<std::uint64_t> FirstDifference(const std::uint8_t* pImage, std::size_t nImage, const FileBytes& file);

// Whether the image differs from the file at path, which a save is about to
// replace: none when there is no such file, true when it is no regular file
// or cannot be read (nothing says it is the same).
std::optional<bool> DiffersFromFile(const std::uint8_t* pImage, std::size_t nImage, const std::string& path);
