// The folder of the running program's own executable.
#pragma once

#include <string>

// Ends in the platform's separator ("C:\Program Files\TandrelConfigurationController\"),
// so a file name can follow it directly; "" when the system does not say.
// One source file per platform, picked by the build.
std::string ProgramFolder();
