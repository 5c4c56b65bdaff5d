#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "session/WriterSession.h"

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

// Every target's outcome of the session's last operation, read before
// anything (a reset of going unplugged) clears their statuses. A target
// passes when the operation completed, its status is 0 and (verify) it
// showed no difference.
std::vector<TargetOutcome> JudgeTargets(ApiCalls& api, const RunFigures& run);

// CRC-32 of target n's flash (see FlashSegments), read back into `image`;
// none when it could not be read.
std::optional<uint32_t> ReadBackCrc32(WriterSession& session, uint32_t n, std::vector<uint8_t>& image);

// Reads back the flash of every target that passed and notes its CRC-32.
void ReadBackPassedTargets(WriterSession& session, std::vector<TargetOutcome>& outcomes);

}  // namespace quarnel
