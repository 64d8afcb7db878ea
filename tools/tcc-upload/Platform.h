// What tcc-upload needs of the operating system, one file per platform
// (PlatformPosix.cpp, PlatformWin32.cpp): the standard streams, terminal
// detection, Ctrl-C and the other ends, the machine's serial ports and an
// output file that replaces its target whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ReplacingFile.h"
#include "tools/tcc-upload/Ports.h"

// Puts the null device on each standard stream (0 to 2) that its starter
// left closed, so that no file or port the run opens takes its place and
// gets the reports. The first thing the program does; returns a mask of the
// streams that were closed (bit n for stream n).
int OpenClosedStandardStreams();

// A write to a reader that went away, or past the file size limit, fails
// with an error the program reports instead of raising a signal that ends
// it. Called at start-up, before anything is written.
void IgnoreWriteSignals();

// Writes bytes to standard output (1) or error (2); blocks until the system
// has taken them all. 0 or the system's error code.
unsigned long WriteStandardStream(int nStream, const void* pBytes, std::size_t count);

// BOOL: standard error is an interactive terminal (console).
int StderrIsTerminal();

// What an output path names that cannot hold an image, as the end of a
// sentence ("it is a folder", "it is a FIFO"...); empty for a file, a link
// to one, or nothing yet. Nothing is opened to find out.
std::string OutputRefusal(const std::string& path);

// --output -: the image goes to standard output byte for byte (Windows would
// otherwise turn every 0A into 0D 0A).
void SetStdoutBinary();

// After InstallInterruptHandler, Ctrl-C, a termination request, a hang-up
// (SIGHUP), any other signal that would end the process and that the
// program's starter did not ignore, or a closed console window only sets a
// flag that WasInterrupted reports, so the run can remove its temporary file.
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
    // After a failed Commit: the image is on the disk all the same, where
    // ErrorText says (in the target's place, or under the temporary name).
    bool LeftOnDisk() const { return m_bLeftOnDisk; }

private:
    int Check(unsigned long code, const char* pszWhat);

    CReplacingFile m_file;
    std::string m_strTarget;
    std::string m_strError;
    bool m_bLeftOnDisk = false;
};
