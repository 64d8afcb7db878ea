// Standard error, shared by the system's messages, the trace and the progress
// line, and standard output. Any thread; each call queues whole lines under
// one lock for the stream's own writer thread (StreamWriter.h), so no caller
// waits for a reader. A progress line on a terminal is cleared before other
// output and redrawn by the next ConsoleProgress.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// bProgress: whether ConsoleProgress draws anything (a terminal, no --quiet).
// bMessages: whether the system's message box texts are shown (--verbose);
// otherwise each port's closing line says what went wrong, in its own words.
void ConsoleInit(bool bProgress, bool bMessages);

// Writes text and a newline.
void ConsoleLine(const std::string& text);

// Writes text that ends its own lines (a message of several).
void ConsoleText(const std::string& text);

// A --trace dump and a newline; left out (and counted) while too much of the
// trace waits for standard error.
void ConsoleTrace(const std::string& text);

// Redraws the progress line in place.
void ConsoleProgress(const std::string& text);

// Removes the progress line, if one is shown.
void ConsoleEndProgress();

// A message box's text as one line after "tcc-upload: ", when shown at all.
void ConsoleMessage(const char* pszText);

// A message box text as one line: line breaks become sentence breaks.
std::string FlattenMessage(const char* pszText);

// Bytes for standard output, queued whole: the JSON lines, the image.
void OutputBytes(std::string bytes);

// Waits until what OutputBytes queued is written (true), or a write failed
// (*pdwError: the system's code), or giveUp returns true.
bool WaitOutputWritten(const std::function<bool()>& giveUp, unsigned long* pdwError);

// The bytes standard output has taken so far.
std::uint64_t OutputWrittenBytes();

// Once a run is interrupted: what standard output has not yet taken is let
// go (but for the piece under way), so a reader that resumes gets no more.
void OutputAbandon();

// The end of the program's output: says what the trace left out, then waits until
// both streams are written, or, once bStop returns true, until a stream has
// held a write for a moment (its reader has stopped). Returns false when it
// gave up on a stream that still held output, which is lost (and said on
// standard error, when that is not the stream that held it). Nothing may be
// written after it: the writers that were idle have ended.
bool ConsoleFinish(const std::function<bool()>& bStop);
