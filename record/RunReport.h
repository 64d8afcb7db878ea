// What one retrieval leaves behind for the user and for support: its report,
// written as tcc-upload's JSON object and as the run log's line, by the
// window and by tcc-upload alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/FrameCodec.h"
#include "retrieval/RunFailure.h"
#include "serial/LineErrors.h"

struct LinkCounts;

// The line and JSON "message" for a cause: the window's words (the box's
// first line where the port did not open, then the technician's words for
// the cause). strDetail: what RunFailureText names for the cause (the group
// that may open a refused port, the rule the station broke, ...).
std::string FailureMessage(RunFailure cause, const std::string& strDetail = std::string());

struct RunReport {
    bool bSaved = false;
    RunFailure nFailure = RunFailure::none;  // none and not saved: the image was retrieved, the save declined
    std::string strPort;
    std::uint32_t dwBaud = 0;  // 0: not known (the port never opened)
    std::string
        strBaudSource;  // "--baud", "UploadConfig.ini", the full path of the file beside the program, or "default"
    std::uint32_t dwBytes = 0;   // image bytes the last attempt received
    std::string strOutput;       // empty: none (the window's Save As was cancelled)
    double dSeconds = 0;         // the whole run, every attempt included
    double dAttemptSeconds = 0;  // the last attempt
    std::uint32_t dwAttempts = 0;
    std::uint64_t qwWireSent = 0;  // every attempt
    std::uint64_t qwWireReceived = 0;
    FrameDrops drops{};                     // by reason, every attempt; frames_dropped is their total
    LineErrorCounts lineErrors;             // every attempt
    std::vector<RunFailure> attemptErrors;  // each failed attempt's cause, in order
    // Why the run failed, or how a saved image differs from what was
    // expected; empty otherwise.
    std::string strMessage;
    std::string strSha256;  // of the image saved, or retrieved and not saved
    bool bLeftOnDisk =
        false;  // a failed save left the image, or part of it, on the disk or on standard output: strMessage says what
    std::optional<bool> expectedMatches;           // --expect-sha256 or --compare: the image was as expected
    std::optional<std::uint64_t> firstDifference;  // --compare: the first byte that differs
    std::optional<bool> changed;                   // the image differs from the file it replaced; none: no file
};

// One attempt's counts (CMapUploader::GetLinkCounts), added to the run's:
// dropped frames by reason, the line's error counts and the bytes
// on the wire.
void AddAttemptCounts(RunReport* pReport, const LinkCounts& counts);

// The text as a JSON string, quotes included. Bytes that are not UTF-8 (a
// path in a Windows code page) become U+FFFD, so the object always parses.
std::string JsonQuote(const std::string& text);

// One line, no newline: {"result": "saved", "port": ..., "changed": ...}.
std::string FormatJson(const RunReport& report);

// printf's rendering of one number.
std::string FormatNumber(double value, const char* pszFormat);
