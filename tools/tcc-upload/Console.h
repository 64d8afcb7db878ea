// Standard error, shared by the system's messages, the trace and the progress
// line. Any thread; each call writes whole lines under one lock, and a
// progress line on a terminal is cleared before other output and redrawn by
// the next ConsoleProgress.
#pragma once

#include <string>

// bProgress: whether ConsoleProgress draws anything (a terminal, no --quiet).
void ConsoleInit(bool bProgress);

// Writes text and a newline.
void ConsoleLine(const std::string& text);

// Redraws the progress line in place.
void ConsoleProgress(const std::string& text);

// Removes the progress line, if one is shown.
void ConsoleEndProgress();

// A message box's text as one line after "tcc-upload: ", kept as well as the
// latest message for the run's report.
void ConsoleMessage(const char* pszText);

// The latest text ConsoleMessage showed since the previous call; empty if none.
std::string ConsoleTakeMessage();

// A message box text as one line: line breaks become sentence breaks.
std::string FlattenMessage(const char* pszText);
