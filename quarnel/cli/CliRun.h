#pragma once

#include <cstdio>

#include "cli/CliOptions.h"

namespace quarnel::cli {

// Runs one parsed command line to its end: the program's exit code (see
// ExitCode). Log lines go to `out`, messages and progress to `err`.
int RunCommandLine(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace quarnel::cli
