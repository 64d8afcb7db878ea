// The per-user run log: one JSON line per retrieval, from the window and from
// tcc-upload alike, kept so that support can ask "what happened?" after the
// fact. One implementation per platform (RunLogPosix.cpp, RunLogWin32.cpp).
#pragma once

#include <cstdint>
#include <string>

// Past this size the log moves aside to runs.1.jsonl before the next line,
// replacing the older generation: the two files stay near 2 MiB in all.
constexpr std::uint64_t kRunLogLimit = 1u << 20;

// Windows: %LOCALAPPDATA%\TandrelConfigurationController\runs.jsonl (the
// window and tcc-upload.exe share it). Elsewhere:
// $XDG_STATE_HOME/tcc-upload/runs.jsonl, ~/.local/state/tcc-upload/ when the
// variable is unset or not absolute. Empty when no folder is known.
std::string RunLogPath();

// Where a full log is moved: runs.jsonl gives runs.1.jsonl.
std::string RunLogOlderPath(const std::string& path);

// Appends line and a newline in one write, creating the log's folders. A log
// of kRunLogLimit bytes or more is first moved to RunLogOlderPath. Several
// processes may append at once: a lock serialises the move, and each line
// lands whole; a line an earlier writer left cut short is ended first.
// Waits a tenth of a second at most for the lock: without it the line is
// appended all the same and the move waits for a later run. What is not a
// regular file (a FIFO, a folder, a device) is no log and is not opened.
// Returns 0 or the system's error code (errno, or GetLastError's).
// Tests: pfnOpened is called where another writer may move the log under
// this one: on POSIX systems between the open and the lock, on Windows
// (which locks before it opens) before the lock.
typedef void (*RunLogOpenedHook)(void* pContext);
unsigned long AppendRunLogLine(const std::string& path, const std::string& line, RunLogOpenedHook pfnOpened = nullptr,
                               void* pContext = nullptr);
