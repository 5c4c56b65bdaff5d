#include "session/TargetResults.h"

#include "objfile/ObjectFileWriter.h"
#include "target/TargetSetup.h"

namespace quarnel {

namespace {

// Names the chip of every target that has no status, from its product ID
// (one exchange with each emulator).
void NameChips(ApiCalls& api, std::vector<TargetOutcome>& outcomes) {
  for (TargetOutcome& target : outcomes)
    if (target.status == 0) target.chipName = ChipNameFromProductId(api.TargetProductIdWord(target.target));
}

// CRC-32 of target n's flash (see FlashSegments), read back into `image`;
// none when it could not be read.
std::optional<uint32_t> ReadBackCrc32(WriterSession& session, uint32_t n, std::vector<uint8_t>& image) {
  if (session.ReadFlash(n, image) != ReadOutcome::Read) return std::nullopt;
  return SegmentsCrc32(FlashSegments(session.Target().geometry, image));
}

void ReadBackPassedTargets(WriterSession& session, std::vector<TargetOutcome>& outcomes) {
  std::vector<uint8_t> image;
  for (TargetOutcome& target : outcomes)
    if (target.passed) target.crc32 = ReadBackCrc32(session, target.target, image);
}

}  // namespace

std::vector<TargetOutcome> JudgeTargets(ApiCalls& api, const RunFigures& run) {
  std::vector<TargetOutcome> outcomes;
  const bool completed = run.outcome == OperationOutcome::Completed;
  for (uint32_t n = 1; n <= api.TargetCount(); ++n) {
    TargetOutcome target;
    target.target = n;
    target.devicePath = api.DevicePath(n);
    target.firmware = api.FirmwareVersion(n);
    target.status = api.TargetStatus(n);
    if (n <= run.differences.size()) target.differences = run.differences[n - 1];
    target.passed = completed && target.status == 0 && target.differences.value_or(0) == 0;
    outcomes.push_back(std::move(target));
  }
  return outcomes;
}

std::vector<TargetOutcome> RecordedOutcomes(WriterSession& session, ApiCalls& api, bool readBack) {
  std::vector<TargetOutcome> outcomes = session.LastRun().targets;
  NameChips(api, outcomes);
  if (readBack) ReadBackPassedTargets(session, outcomes);
  return outcomes;
}

}  // namespace quarnel
