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

// The targets' outcomes of the session's last operation as records keep
// them: with their chips named and, with `readBack`, the CRC-32 of every
// passed target's flash.
std::vector<TargetOutcome> RecordedOutcomes(WriterSession& session, ApiCalls& api, bool readBack);

}  // namespace quarnel
