#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/WriteOperation.h"

namespace quarnel {

// What one target came to in one operation of a session.
struct TargetOutcome {
  uint32_t target = 0;  // its number in the session, 1 to TargetCount()
  std::string devicePath;
  std::string firmware;
  std::string chipName;
  int status = 0;
  std::optional<uint64_t> differences;  // verify only
  std::optional<uint32_t> crc32;        // of its flash, read back after the run
  bool passed = false;
};

// What the last operation of a session came to, beyond its outcome.
struct RunFigures {
  OperationOutcome outcome = OperationOutcome::NotStarted;
  double seconds = 0;  // from the start to the end of the operation
  uint64_t bytes = 0;  // written (write), compared (verify) or read (read) per target
  std::vector<uint8_t> plannedImage;  // write: see WriteOperation::PlannedImage
  std::vector<uint64_t> differences;  // verify: per target, index 0 = target 1
  bool requiredRangeMissed = false;   // write: see WriteOperation::RequiredRangeMissed
  std::string refusal;                // why it ended before writing or comparing (Refusal())
  std::vector<TargetOutcome> targets; // every target's outcome, judged as the operation ended

  double KiBPerSecond() const { return seconds > 0 ? static_cast<double>(bytes) / 1024.0 / seconds : 0; }
};

// The log line with the time, the bytes and the rate of an operation.
std::string FiguresLine(const RunFigures& figures);

}  // namespace quarnel
