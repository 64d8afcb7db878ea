// One tcc-upload run: every port at once, each with its own uploader, line
// and threads, polled from the main thread the way the window polls one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FileBytes;
struct RunReport;

struct BatchSettings {
    std::uint32_t dwBaud = 0;   // the rate every port is set to
    std::string strBaudSource;  // "--baud", the baud-rate file read (BaudRateReading::strFile) or "default"
    std::uint32_t dwRetries = 0;
    std::uint32_t dwRetryWaitMs = 2000;  // the pause before a retry, and the longest wait for a missing port
    bool bJson = false;
    bool bQuiet = false;
    bool bTrace = false;
    bool bTerminal = false;      // standard error is a terminal
    bool bStdoutClosed = false;  // the program was started without one: --output - has nowhere to go
    bool bVerbose = false;
    bool bLog = true;                     // a line per port in the user's run log (not with --no-log)
    std::string strExpectSha256;          // --expect-sha256, lower case; empty: none
    const FileBytes* pCompare = nullptr;  // --compare's bytes, read before any port opens
    std::string strCompare;               // --compare's file, as given
};

// The user's run log as tcc-upload writes it: a line per port's run. A log
// that cannot be written is skipped; with --verbose that is said, once.
class CToolRunLog {
public:
    CToolRunLog(bool bOn, bool bVerbose);
    void Write(const RunReport& report);

private:
    bool m_bOn, m_bVerbose;
    bool m_bSaid = false;
};

struct PortJob {
    std::string strPort;
    std::string strOutput;  // a file, or "-" for standard output
};

// Creates every output first, then runs the ports whose output could be
// created (one that cannot fails with status 3, unopened); prints each
// port's closing line and JSON object as it ends. Returns the exit status.
int RunBatch(const std::vector<PortJob>& jobs, const BatchSettings& settings);
