// The run log's line for one retrieval, from either front end.
#pragma once

#include <ctime>
#include <string>

#include "record/RunReport.h"

// "window" or "tcc-upload": who ran the retrieval.
extern const char kFrontEndWindow[];
extern const char kFrontEndTool[];

// A time in UTC, from the calendar arithmetic itself (gmtime's shared buffer
// is no thing to lean on with other threads about): pszFormat takes year,
// month, day, hour, minute and second, each a long long.
std::string FormatUtc(std::time_t when, const char* pszFormat);

// {"time": "2026-12-10T11:13:23Z", "version": ..., "front_end": ..., then
// the report's keys as FormatJson writes them}.
std::string FormatRunLogLine(const RunReport& report, const char* pszFrontEnd, std::time_t when);

// Appends the report's line, for a run that ended at when, to the user's run
// log. Returns 0 or the system's error code; the caller decides whether to
// say so, never to fail.
unsigned long WriteRunLog(const RunReport& report, const char* pszFrontEnd, std::time_t when);
