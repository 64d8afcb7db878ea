// What a run ends with: the closing summary on standard error and, with
// --json, one JSON object on standard output.
#pragma once

#include <cstdint>
#include <string>

struct RunReport {
    bool bSaved = false;
    std::string strPort;
    std::uint32_t dwBaud = 0;   // 0: not known (the port never opened)
    std::uint32_t dwBytes = 0;  // image bytes the last attempt received
    std::string strOutput;
    double dSeconds = 0;         // the whole run, every attempt included
    double dAttemptSeconds = 0;  // the last attempt
    std::uint32_t dwAttempts = 0;
    std::uint64_t qwWireSent = 0;  // every attempt
    std::uint64_t qwWireReceived = 0;
    std::uint32_t dwFramesDropped = 0;
    std::string strMessage;  // why the run failed; empty when saved
};

// The text as a JSON string, quotes included. Bytes that are not UTF-8 (a
// path in a Windows code page) become U+FFFD, so the object always parses.
std::string JsonQuote(const std::string& text);

// One line, no newline: {"result": "saved", "port": ..., "message": null}.
std::string FormatJson(const RunReport& report);

// The closing line on standard error, "tcc-upload: " included.
std::string FormatSummary(const RunReport& report);
