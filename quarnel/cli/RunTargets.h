#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/RunReport.h"
#include "cli/SerialNumbers.h"
#include "recording/RunRecords.h"

namespace quarnel::cli {

// The targets of one run through its attempts: each target's report (that
// of its last attempt), the targets the current attempt works on, and one
// record per target and attempt.
class RunTargets {
 public:
  // A target of the run, numbered from 1 in the order of the first connect;
  // the first attempt works on every one of them.
  void Add(TargetReport target);
  const std::vector<TargetReport>& Reports() const { return targets_; }
  // The run's numbers of the targets whose last attempt failed.
  std::vector<uint32_t> Failed() const;
  // "slot 3", or "target 2" without a slot map.
  static std::string Name(const TargetReport& target);

  // The next attempt works on the targets `numbers`, as the session's
  // targets 1, 2, ...
  void StartAttempt(std::vector<uint32_t> numbers) { attempt_ = std::move(numbers); }
  const std::vector<uint32_t>& InAttempt() const { return attempt_; }
  TargetReport& OfSessionTarget(uint32_t n) { return targets_[attempt_[n - 1] - 1]; }

  // Takes attempt `attempt`'s outcomes (by session target) into the reports
  // and a record each; a target with a serial number settles it.
  void Judge(uint32_t attempt, const std::vector<TargetOutcome>& outcomes, const RunFigures& figures,
             const RunIdentity& run, SerialNumbers* serials);
  // The targets `failed` could not be plugged again for attempt `attempt`:
  // they keep their failure, recorded as an attempt of its own.
  void RecordUnplugged(const std::vector<uint32_t>& failed, uint32_t attempt, const RunIdentity& run,
                       const std::string& why);

  const std::vector<records::BoardRecord>& Records() const { return records_; }

 private:
  std::vector<TargetReport> targets_;  // index = number - 1
  std::vector<uint32_t> attempt_;
  std::vector<records::BoardRecord> records_;
};

}  // namespace quarnel::cli
