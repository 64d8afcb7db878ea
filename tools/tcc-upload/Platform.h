// What tcc-upload needs of the operating system, one file per platform
// (PlatformPosix.cpp, PlatformWin32.cpp): terminal detection, Ctrl-C, the
// machine's serial ports and an output file that replaces its target whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ReplacingFile.h"
#include "tools/tcc-upload/Ports.h"

// BOOL: standard error is an interactive terminal (console).
int StderrIsTerminal();

// BOOL: path names an existing folder.
int IsFolder(const std::string& path);

// --output -: the image goes to standard output byte for byte (Windows would
// otherwise turn every 0A into 0D 0A).
void SetStdoutBinary();

// After InstallInterruptHandler, Ctrl-C, a termination request, a hang-up
// (SIGHUP) or a closed console window only sets a flag that
// WasInterrupted reports, so the run can remove its temporary file.
void InstallInterruptHandler();
int WasInterrupted();

// The machine's serial ports, sorted by name.
std::vector<SerialPortInfo> ListSerialPorts();

// BOOL: --list-ports --json has the by_id key (Linux).
int PortListHasById();

// BOOL: a port of that name exists now (it may still fail to open).
int PortIsPresent(const std::string& port);

// The system's text for an error code of CReplacingFile.
std::string SystemErrorText(unsigned long code);

// The output file (platform/ReplacingFile.h) with the messages the tool
// prints: until Commit, the target is untouched.
class CAtomicFile {
public:
    // Each returns a BOOL; on failure ErrorText says why (the target's path
    // and the system's reason).
    int Create(const std::string& targetPath);
    int Write(const std::uint8_t* pBytes, std::size_t count);
    int Commit();
    void Discard();  // removes the temporary file; harmless when none is open

    const std::string& ErrorText() const { return m_strError; }

private:
    int Check(unsigned long code, const char* pszWhat);

    CReplacingFile m_file;
    std::string m_strTarget;
    std::string m_strError;
};
