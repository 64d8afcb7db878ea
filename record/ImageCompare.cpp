#include "record/ImageCompare.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

int ReadFileBytes(const std::string& path, std::size_t nLimit, FileBytes* pFile)
{
    pFile->bytes.assign(nLimit + 1, 0);  // one more, to know whether it goes on
    errno = 0;
    std::FILE* pIn = std::fopen(path.c_str(), "rb");
    if (pIn == nullptr)
        return errno != 0 ? errno : ENOENT;
    const std::size_t nRead = std::fread(pFile->bytes.data(), 1, pFile->bytes.size(), pIn);
    const int nError = std::ferror(pIn) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(pIn);
    pFile->bLonger = nRead > nLimit;
    pFile->bytes.resize(std::min(nRead, nLimit));
    return nError;
}

std::optional<std::uint64_t> FirstDifference(const std::uint8_t* pImage, std::size_t nImage, const FileBytes& file)
{
    const std::size_t nCommon = std::min(nImage, file.bytes.size());
    const auto mismatch = std::mismatch(pImage, pImage + nCommon, file.bytes.begin());
    const std::size_t nAt = static_cast<std::size_t>(mismatch.first - pImage);
    if (nAt < nCommon || nImage != file.bytes.size() || file.bLonger)
        return nAt;
    return std::nullopt;
}

// Looked at before it is opened: a FIFO put in the file's place would hold
// the save until something wrote to it.
std::optional<bool> DiffersFromFile(const std::uint8_t* pImage, std::size_t nImage, const std::string& path)
{
    switch (KindOfPath(path)) {
    case PATH_MISSING: return std::nullopt;
    case PATH_OTHER: return true;
    case PATH_REGULAR: break;
    }
    FileBytes file;
    return ReadFileBytes(path, nImage, &file) != 0 || FirstDifference(pImage, nImage, file).has_value();
}
