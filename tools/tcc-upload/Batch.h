// One tcc-upload run: every port at once, each with its own uploader, line
// and threads, polled from the main thread the way the window polls one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
};

struct PortJob {
    std::string strPort;
    std::string strOutput;  // a file, or "-" for standard output
};

// Creates every output first, then runs the ports whose output could be
// created (one that cannot fails with status 3, unopened); prints each
// port's closing line and JSON object as it ends. Returns the exit status.
int RunBatch(const std::vector<PortJob>& jobs, const BatchSettings& settings);
