#include "record/ImageCompare.h"

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

std::optional<bool> DiffersFromFile(const std::uint8_t* pImage, std::size_t nImage, const std::string& path)
{
    FileBytes file;
    const int nError = ReadFileBytes(path, nImage, &file);
    if (nError == ENOENT)
        return std::nullopt;
    return nError != 0 || FirstDifference(pImage, nImage, file).has_value();
}
