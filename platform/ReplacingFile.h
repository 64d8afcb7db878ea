// A new file written beside its target that takes the target's place only
// once it is complete and on the disk: until Commit the target is untouched,
// and a failure or a Discard leaves it as it was. One implementation per
// platform (ReplacingFilePosix.cpp, ReplacingFileWin32.cpp); the window's unit
// tests link the headless backend's, which fails a step on request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CReplacingFile {
public:
    CReplacingFile() = default;
    ~CReplacingFile();  // discards an uncommitted file
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    // Each returns 0 or the system's error code: GetLastError's on Windows,
    // errno elsewhere.
    unsigned long Create(const std::string& targetPath);
    unsigned long Write(const void* pBytes, std::size_t count);
    // Puts the data on the disk, closes the new file and moves it over the target.
    unsigned long Commit();
    void Discard();  // closes and removes the new file; harmless when none is open

    // After a failed Commit: whether the data was on the disk and only the
    // move over the target failed.
    bool FailedAtReplace() const { return m_bOnDisk && !m_strTemp.empty(); }
    // After a failed Commit: whether the new file had taken the target's
    // place and only putting that on the disk failed.
    bool FailedAfterReplace() const { return m_bOnDisk && m_strTemp.empty(); }
    // After a Commit that failed at the replace: the new file, whole on the
    // disk, stays under its temporary name, which is returned; Discard and
    // the destructor leave it.
    std::string KeepNewFile()
    {
        std::string kept;
        kept.swap(m_strTemp);
        return kept;
    }

private:
    std::intptr_t m_hFile = -1;  // a file descriptor or a HANDLE, per platform
    std::string m_strTarget;
    std::string m_strTemp;
    bool m_bOnDisk = false;  // written, flushed and closed
};
