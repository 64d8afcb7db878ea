// What tcc-upload needs of the operating system, one file per platform
// (PlatformPosix.cpp, PlatformWin32.cpp): terminal detection, Ctrl-C, the
// machine's serial ports and an output file that replaces its target whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/tcc-upload/Ports.h"

// BOOL: standard error is an interactive terminal (console).
int StderrIsTerminal();

// After InstallInterruptHandler, Ctrl-C only sets a flag that
// WasInterrupted reports, so the run can remove its temporary file.
void InstallInterruptHandler();
int WasInterrupted();

// The machine's serial ports, sorted by name.
std::vector<SerialPortInfo> ListSerialPorts();

// Writes a file beside its target and puts it in the target's place only once
// it is complete and on disk; until Commit, the target is untouched.
class CAtomicFile {
public:
    CAtomicFile() = default;
    ~CAtomicFile();  // discards an uncommitted file
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // Each returns a BOOL; on failure ErrorText says why (the target's path
    // and the system's reason).
    int Create(const std::string& targetPath);
    int Write(const std::uint8_t* pBytes, std::size_t count);
    int Commit();
    void Discard();  // removes the temporary file; harmless when none is open

    const std::string& ErrorText() const { return m_strError; }

private:
    void SetError(const char* pszWhat);

    std::string m_strTarget;
    std::string m_strTemp;
    std::intptr_t m_hFile = -1;  // a file descriptor or a HANDLE, per platform
    std::string m_strError;
};
