// The run log's line for one retrieval, from either front end.
#pragma once

#include <ctime>
#include <string>

#include "record/RunReport.h"

// "window" or "tcc-upload": who ran the retrieval.
extern const char kFrontEndWindow[];
extern const char kFrontEndTool[];

// {"time": "2026-12-10T11:13:23Z", "version": ..., "front_end": ..., then
// the report's keys as FormatJson writes them}.
std::string FormatRunLogLine(const RunReport& report, const char* pszFrontEnd, std::time_t when);

// Appends the report's line to the user's run log now. Returns 0 or the
// system's error code; the caller decides whether to say so, never to fail.
unsigned long WriteRunLog(const RunReport& report, const char* pszFrontEnd);
