#include "cli/RunTargets.h"

namespace quarnel::cli {

void RunTargets::Add(TargetReport target) {
  targets_.push_back(std::move(target));
  attempt_.push_back(static_cast<uint32_t>(targets_.size()));
}

std::vector<uint32_t> RunTargets::Failed() const {
  std::vector<uint32_t> failed;
  for (const TargetReport& target : targets_)
    if (!target.passed) failed.push_back(target.number);
  return failed;
}

std::string RunTargets::Name(const TargetReport& target) {
  return target.slot ? "slot " + std::to_string(*target.slot) : "target " + std::to_string(target.number);
}

void RunTargets::Judge(uint32_t attempt, const std::vector<TargetOutcome>& outcomes, const RunFigures& figures,
                       const RunIdentity& run, SerialNumbers* serials) {
  for (TargetOutcome outcome : outcomes) {
    const uint32_t number = attempt_[outcome.target - 1];
    TargetReport& target = targets_[number - 1];
    outcome.target = number;
    target.firmware = outcome.firmware;
    target.status = outcome.status;
    target.differences = outcome.differences;
    target.crc32 = outcome.crc32;
    target.passed = outcome.passed;
    target.attempts = attempt;
    records::BoardRecord record = BoardRecordOf(run, static_cast<int>(attempt), outcome, figures);
    record.slot = target.slot;
    if (const std::optional<uint64_t> serial = serials ? serials->NumberOf(number) : std::nullopt) {
      target.serialNumber = serials->BytesOf(number);
      record.serialNumber = *serial;
      serials->Settle(number, outcome.passed);
    }
    records_.push_back(std::move(record));
  }
}

void RunTargets::RecordUnplugged(const std::vector<uint32_t>& failed, uint32_t attempt, const RunIdentity& run,
                                 const std::string& why) {
  const RunFigures none;
  for (uint32_t number : failed) {
    TargetReport& target = targets_[number - 1];
    target.attempts = attempt;
    TargetOutcome outcome;
    outcome.target = number;
    outcome.devicePath = target.devicePath;
    outcome.firmware = target.firmware;
    outcome.status = target.status;
    records::BoardRecord record = BoardRecordOf(run, static_cast<int>(attempt), outcome, none);
    record.slot = target.slot;
    record.statusText = why;
    records_.push_back(std::move(record));
  }
}

}  // namespace quarnel::cli
