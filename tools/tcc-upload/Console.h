// Standard error, shared by the system's messages, the trace and the progress
// line. Any thread; each call writes whole lines under one lock, and a
// progress line on a terminal is cleared before other output and redrawn by
// the next ConsoleProgress.
#pragma once

#include <string>

// bProgress: whether ConsoleProgress draws anything (a terminal, no --quiet).
// bMessages: whether the system's message box texts are shown (--verbose);
// otherwise each port's closing line says what went wrong, in its own words.
void ConsoleInit(bool bProgress, bool bMessages);

// Writes text and a newline.
void ConsoleLine(const std::string& text);

// Redraws the progress line in place.
void ConsoleProgress(const std::string& text);

// Removes the progress line, if one is shown.
void ConsoleEndProgress();

// A message box's text as one line after "tcc-upload: ", when shown at all.
void ConsoleMessage(const char* pszText);

// A message box text as one line: line breaks become sentence breaks.
std::string FlattenMessage(const char* pszText);
