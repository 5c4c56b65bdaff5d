#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "session/WriterSession.h"

namespace quarnel {

// Every target's outcome of an operation, read before anything (a reset of
// going unplugged) clears their statuses. A target passes when the
// operation completed, its status is 0 and (verify) it showed no
// difference. WriterSession judges each of its operations so.
std::vector<TargetOutcome> JudgeTargets(ApiCalls& api, const RunFigures& run);
// Names the chip of every target that has no status, from its product ID
// (one exchange with each emulator).
void NameChips(ApiCalls& api, std::vector<TargetOutcome>& outcomes);

// CRC-32 of target n's flash (see FlashSegments), read back into `image`;
// none when it could not be read.
std::optional<uint32_t> ReadBackCrc32(WriterSession& session, uint32_t n, std::vector<uint8_t>& image);

// Reads back the flash of every target that passed and notes its CRC-32.
void ReadBackPassedTargets(WriterSession& session, std::vector<TargetOutcome>& outcomes);

}  // namespace quarnel
