#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace quarnel::cli {

enum ExitCode : int { kPassed = 0, kTargetFailed = 1, kBadInput = 2, kNotPlugged = 3 };

// What ends a run early: its exit code and the message that says why.
struct RunFailure {
  int code = kBadInput;
  std::string message;
};

// What one target went through in a run: its last attempt.
struct TargetReport {
  uint32_t number = 0;
  std::optional<int> slot;
  std::string devicePath;
  std::string firmware;
  std::optional<std::vector<uint8_t>> serialNumber;  // written or expected
  int status = 0;
  std::optional<uint64_t> differences;  // verify only
  std::optional<uint32_t> crc32;        // of the flash after the run (write, verify, read)
  std::string outputFile;               // read only
  uint32_t attempts = 1;
  bool passed = false;
};

// The outcome of one run, as --json writes it.
struct RunReport {
  std::string operation;  // "list", "write", "verify", "erase", "read" or "blank-check"
  int exitCode = kPassed;
  std::string message;  // why the run ended early, if it did
  std::string utcTime;  // when the run ended, ISO 8601
  std::string station;
  std::string version;
  std::string imageSha256;  // write: the planned image
  double seconds = 0;       // the operation's attempts together
  uint64_t bytes = 0;       // per target, in the first attempt
  std::vector<TargetReport> targets;
};

// The JSON text of the run: operation, target description, options, time,
// station, program version, image SHA-256, elapsed time, bytes and rate, and
// per target number, slot, device path, firmware, serial number, final
// status with its message, differences, CRC-32, attempts and pass or fail.
std::string ReportJson(const Options& options, const RunReport& report);
// Writes it completely or not at all; false when it could not be written.
bool WriteReportFile(const std::string& path, const Options& options, const RunReport& report);
// Tells why the run ends on `err` and notes it in the report: the exit code.
int TellFailure(std::FILE* err, RunReport& report, const RunFailure& failure);

// Whether WriteReportFile could write `path` now (tried without keeping
// anything): empty, or why not.
std::string CheckReportFile(const std::string& path);

}  // namespace quarnel::cli
