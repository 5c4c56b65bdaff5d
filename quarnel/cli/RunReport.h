#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace quarnel::cli {

enum ExitCode : int { kPassed = 0, kTargetFailed = 1, kBadInput = 2, kNotPlugged = 3 };

// What one target went through in a run.
struct TargetReport {
  uint32_t number = 0;
  std::string devicePath;
  std::string firmware;
  std::optional<std::vector<uint8_t>> serialNumber;  // written or expected
  int status = 0;
  std::optional<uint64_t> differences;  // verify only
  bool passed = false;
};

// The outcome of one run, as --json writes it.
struct RunReport {
  std::string operation;  // "list", "write", "verify" or "erase"
  int exitCode = kPassed;
  std::string message;  // why the run ended early, if it did
  std::vector<TargetReport> targets;
};

// The JSON text of the run: operation, target description, options, and per
// target number, device path, firmware, serial number, final status with its
// message, differences and pass or fail.
std::string ReportJson(const Options& options, const RunReport& report);
// Writes it completely or not at all; false when it could not be written.
bool WriteReportFile(const std::string& path, const Options& options, const RunReport& report);
// Whether WriteReportFile could write `path` now (tried without keeping
// anything): empty, or why not.
std::string CheckReportFile(const std::string& path);

}  // namespace quarnel::cli
