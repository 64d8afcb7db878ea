// What a run ends with: the closing summary on standard error and, with
// --json, one JSON object on standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/FrameCodec.h"
#include "retrieval/RunFailure.h"
#include "serial/LineErrors.h"

// The exit statuses, said once: --help prints this table, and the man page,
// README and help pages carry the same lines (a test compares them).
struct ExitStatusRow {
    int nStatus;
    const char* pszMeaning;
};
extern const ExitStatusRow kExitStatuses[5];

// The exit status of a port's run; a batch ends with the first of 130, 2, 3,
// 1 that any port has, else 0.
int ExitStatusOf(RunFailure cause);
int WorseExitStatus(int nA, int nB);

// tcc-upload's line and JSON "message" for a cause: the window's words (the
// box's first line where the port did not open, then the technician's words
// for the cause). strDetail: what RunFailureText names for the cause (the
// group that may open a refused port, the rule the station broke, ...).
std::string FailureMessage(RunFailure cause, const std::string& strDetail = std::string());

struct RunReport {
    bool bSaved = false;
    RunFailure nFailure = RunFailure::none;
    std::string strPort;
    std::uint32_t dwBaud = 0;   // 0: not known (the port never opened)
    std::string strBaudSource;  // "--baud", the baud-rate file read (BaudRateReading::strFile) or "default"
    std::uint32_t dwBytes = 0;  // image bytes the last attempt received
    std::string strOutput;
    double dSeconds = 0;         // the whole run, every attempt included
    double dAttemptSeconds = 0;  // the last attempt
    std::uint32_t dwAttempts = 0;
    std::uint64_t qwWireSent = 0;  // every attempt
    std::uint64_t qwWireReceived = 0;
    std::uint32_t dwFramesDropped = 0;
    FrameDrops drops{};                     // by reason, every attempt
    LineErrorCounts lineErrors;             // every attempt
    std::vector<RunFailure> attemptErrors;  // each failed attempt's cause, in order
    std::string strMessage;                 // why the run failed; empty when saved
    std::string strSha256;                  // of the bytes written; empty when nothing was
    bool bLeftOnDisk = false;               // a failed save left the image on the disk; strMessage says where
};

// One attempt's dropped frames and line errors, added to the run's.
void AddAttemptCounts(RunReport* pReport, const FrameDrops& drops, const LineErrorCounts& errors);

// The text as a JSON string, quotes included. Bytes that are not UTF-8 (a
// path in a Windows code page) become U+FFFD, so the object always parses.
std::string JsonQuote(const std::string& text);

// One line, no newline: {"result": "saved", "port": ..., "sha256": ...}.
std::string FormatJson(const RunReport& report);

// The port's closing line on standard error, "tcc-upload: PORT: " included.
std::string FormatSummary(const RunReport& report);
