// What a run ends with: the closing summary on standard error and, with
// --json, one JSON object on standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/RunReport.h"

// The exit statuses, said once: --help prints this table, and the man page,
// README and help pages carry the same lines (a test compares them).
struct ExitStatusRow {
    int nStatus;
    const char* pszMeaning;
};
extern const ExitStatusRow kExitStatuses[6];

// The exit status of a port's run: its cause's, or 4 for an image saved
// that is not what was expected. A batch ends with the first of 130, 2, 3,
// 1, 4 that any port has, else 0.
int ExitStatusOf(RunFailure cause);
int ExitStatusOf(const RunReport& report);
int WorseExitStatus(int nA, int nB);

// The port's closing line on standard error, "tcc-upload: PORT: " included.
std::string FormatSummary(const RunReport& report);
