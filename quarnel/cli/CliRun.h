#pragma once

#include <cstdio>

#include "cli/CliOptions.h"

namespace quarnel::cli {

// Runs one parsed command line to its end: the program's exit code (see
// ExitCode). Log lines go to `out`, messages and progress to `err`.
int RunCommandLine(const Options& options, std::FILE* out, std::FILE* err);

// The record store named by --records, else by the window's settings
// (RecordsUrl in section Settings), else the default SQLite file (empty).
std::string RecordsUrl(const Options& options);

// The commands of the record store alone (records, sequence): no emulator
// is touched.
int RunStoreCommand(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace quarnel::cli
