#include "cli/TargetRun.h"

#include <span>

#include "cli/Emulators.h"
#include "cli/ReadBack.h"
#include "cli/RunInput.h"
#include "cli/RunTargets.h"
#include "cli/SerialNumbers.h"
#include "image/AddressSyntax.h"
#include "recording/RunRecords.h"
#include "session/TargetResults.h"

namespace quarnel::cli {
namespace {

class TargetRun {
 public:
  explicit TargetRun(const TargetRunParts& parts)
      : options_(parts.options),
        err_(parts.err),
        console_(parts.console),
        api_(parts.api),
        session_(parts.session),
        report_(parts.report),
        slots_(parts.slots),
        store_(parts.store),
        outputFormat_(parts.outputFormat) {
    if (options_.serial && (options_.command == Command::Write || options_.command == Command::Verify))
      serials_.emplace(*options_.serial, store_);
  }

  int Operate() {
    if (int code = ConnectTargets(); code != kPassed) return code;
    run_ = NewRunIdentity(report_.operation, options_.target);
    int code = Plug();
    if (code != kPassed) {
      SpoilAllocated();
      return FinishRun(Unplug(code));
    }
    ConsoleWindow::InstallCancelOnSignals();
    for (uint32_t attempt = 1;; ++attempt) {
      const OperationOutcome outcome = RunOperation();
      if (outcome == OperationOutcome::NotStarted) {
        SpoilAllocated();
        return FinishRun(Unplug(NotStarted()));
      }
      JudgeAttempt(attempt);
      const std::vector<uint32_t> failed = targets_.Failed();
      if (failed.empty() || attempt > options_.retries || outcome == OperationOutcome::Cancelled) {
        if (outcome == OperationOutcome::Cancelled) report_.message = "interrupted";
        break;
      }
      if (!Replug(failed, attempt + 1)) {
        targets_.RecordUnplugged(failed, attempt + 1, run_, "not plugged again: " + report_.message);
        break;
      }
    }
    Unplug(kPassed);
    return FinishRun(targets_.Failed().empty() ? kPassed : kTargetFailed);
  }

 private:
  int Fail(int code, const std::string& message) { return TellFailure(err_, report_, {code, message}); }

  int Connect() {
    const std::optional<RunFailure> failure = ConnectEmulators(session_, api_, options_, slots_);
    return failure ? TellFailure(err_, report_, *failure) : kPassed;
  }

  // The first connect: with a slot map the targets are the slots' emulators
  // in slot order. Every target gets its report; the attempts to come
  // refer to them by number.
  int ConnectTargets() {
    if (slots_ != nullptr) api_.SelectOnConnect(slots_->PathsInSlotOrder());
    if (int code = Connect(); code != kPassed) return code;
    for (uint32_t n = 1; n <= api_.TargetCount(); ++n) targets_.Add(DescribeTarget(api_, n, slots_));
    return CheckOutputName();
  }

  // read: one file per target takes {slot} in the name.
  int CheckOutputName() {
    const size_t targets = targets_.Reports().size();
    if (options_.command != Command::Read || targets < 2 ||
        options_.output.find(kSlotPlaceholder) != std::string::npos)
      return kPassed;
    session_.Leave();
    return Fail(kBadInput, "read: " + options_.output + " names one file for " + std::to_string(targets) +
                               " targets; put {slot} in the name for one file per target");
  }

  // The numbers of this attempt's targets, handed to the library.
  int AssignSerialNumbers() {
    if (!serials_) return kPassed;
    const std::vector<uint32_t>& numbers = targets_.InAttempt();
    const auto total = static_cast<uint32_t>(targets_.Reports().size());
    if (const auto refusal = serials_->Assign(numbers, total, StationName()))
      return Fail(refusal->exitCode, refusal->message);
    for (uint32_t k = 0; k < numbers.size(); ++k) {
      std::vector<uint8_t> bytes = serials_->BytesOf(numbers[k]);
      api_.SetSerialNumber(k + 1, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    return kPassed;
  }

  // Numbers of a sequence that no board took: never handed out again.
  void SpoilAllocated() {
    if (serials_) serials_->SpoilUnsettled();
  }

  void NoteStore(const records::StoreResult& result) {
    if (!result.Ok() && storeError_.empty()) storeError_ = result.error;
  }

  int Plug() {
    if (int code = AssignSerialNumbers(); code != kPassed) return code;
    std::optional<std::vector<uint16_t>> securityId;
    if (options_.securityId) securityId = ParseSecurityWords(*options_.securityId);
    switch (session_.PlugFor(options_.target, securityId)) {
      case PlugResult::Plugged:
        return kPassed;
      case PlugResult::NotPlugged:
        return Fail(kNotPlugged, "the emulators could not be plugged");
      case PlugResult::SecurityCheckFailed:
        console_.ReportStatus(api_.Status());
        return Fail(kNotPlugged, "the security check failed");
      case PlugResult::StillProtected:
        break;
    }
    return Fail(kNotPlugged, "the chip is still read-protected");
  }

  // Leaves the emulators and plugs only the targets that failed, as the
  // targets of the next attempt.
  bool Replug(const std::vector<uint32_t>& failed, uint32_t attempt) {
    std::string which;
    for (uint32_t number : failed) which += " " + RunTargets::Name(targets_.Reports()[number - 1]);
    console_.AddLogLine(SessionEvent::kNormalLine,
                        "Attempt " + std::to_string(attempt) + " of " + std::to_string(options_.retries + 1) + ":" + which);
    Unplug(kPassed);
    console_.ClearFatalStatus();
    std::vector<std::string> paths;
    for (uint32_t number : failed) paths.push_back(targets_.Reports()[number - 1].devicePath);
    targets_.StartAttempt(failed);
    api_.SelectOnConnect(paths);
    if (Connect() != kPassed) return false;
    if (Plug() == kPassed) return true;
    SpoilAllocated();
    Unplug(kPassed);
    return false;
  }

  OperationOutcome RunOperation() {
    switch (options_.command) {
      case Command::Write: {
        const OperationOutcome outcome = session_.Write(WriteSettingsFor(options_));
        if (session_.LastRun().requiredRangeMissed)
          refusal_ = "the serial number at " + HexAddressText(options_.serial->address) +
                     " lies outside the flash this run writes on every target (see --end, --not-fill, --no-erase); "
                     "nothing was written";
        return outcome;
      }
      case Command::Verify: {
        VerifySettings settings = VerifySettingsFor(options_);
        if (serials_)
          settings.adjustExpected = [this](uint32_t n, std::span<uint8_t> image) {
            serials_->PlaceInto(targets_.InAttempt()[n - 1], image);
          };
        return session_.Verify(settings);
      }
      case Command::Erase:
        return session_.Erase();
      default:
        return ReadTargets();
    }
  }

  // read and blank-check: each target's flash, read back whole.
  OperationOutcome ReadTargets() {
    readResults_.assign(targets_.InAttempt().size(), ReadBack{false, std::nullopt, {}, "not read (interrupted)"});
    return session_.ReadTargets([this](uint32_t n, std::optional<std::span<const uint8_t>> image) {
      ReadBack& result = readResults_[n - 1];
      if (!image) {
        result.line = "could not be read";
        return FlashVerdict{};
      }
      if (options_.command == Command::Read) {
        const TargetReport& target = targets_.OfSessionTarget(n);
        const std::string path = ReadBackFileName(options_.output, target.slot.value_or(static_cast<int>(target.number)));
        result = SaveReadBack(session_.Target(), *image, outputFormat_, path);
      } else {
        result = CheckBlank(session_.Target(), *image);
      }
      return FlashVerdict{result.passed, result.crc32};
    });
  }

  // Every target's own outcome of this attempt, read before anything resets
  // them, into its report and a record; sequence numbers of targets that
  // failed are spoiled.
  void JudgeAttempt(uint32_t attempt) {
    const RunFigures& figures = session_.LastRun();
    const std::vector<TargetOutcome> outcomes =
        RecordedOutcomes(session_, api_, RecordingReadsBack(session_, report_.operation));
    if (attempt == 1) {
      report_.imageSha256 = Sha256Hex(figures.plannedImage);
      report_.bytes = figures.bytes;
      run_.imageSha256 = report_.imageSha256;
    }
    report_.seconds += figures.seconds;
    if (!readResults_.empty())
      for (const TargetOutcome& outcome : outcomes)
        TellReadResult(readResults_[outcome.target - 1], targets_.OfSessionTarget(outcome.target));
    targets_.Judge(attempt, outcomes, figures, run_, serials_ ? &*serials_ : nullptr);
    readResults_.clear();
  }

  void TellReadResult(const ReadBack& result, TargetReport& target) {
    target.outputFile = result.outputFile;
    console_.AddLogLine(result.passed ? SessionEvent::kNormalLine : SessionEvent::kErrorLine,
                        "Target " + std::to_string(target.number) +
                            (target.slot ? " (slot " + std::to_string(*target.slot) + ")" : "") + ": " + result.line);
  }

  int NotStarted() {
    if (!refusal_.empty()) return Fail(kBadInput, refusal_);
    if (console_.DeclinedQuestion()) return Fail(kBadInput, "a question was answered no; nothing was touched");
    const std::string& why = session_.LastRun().refusal;
    return Fail(kBadInput, "the operation did not start" + (why.empty() ? std::string() : ": " + why));
  }

  // The boards are done: the report gets every target, the store every
  // record. A record that cannot be stored fails a run that passed.
  int FinishRun(int code) {
    if (!targets_.Records().empty()) report_.targets = targets_.Reports();
    report_.utcTime = UtcTimeNow();
    report_.station = run_.station;
    report_.version = run_.version;
    if (store_ && !targets_.Records().empty()) NoteStore(store_->Add(targets_.Records()));
    if (serials_ && storeError_.empty()) storeError_ = serials_->StoreError();
    if (storeError_.empty()) return code;
    const std::string message = "the records of this run could not be stored: " + storeError_;
    if (code == kPassed) return Fail(kTargetFailed, message);
    std::fprintf(err_, "quarnel-cli: %s\n", message.c_str());
    return code;
  }

  // Leaves the emulators as the window does when it closes.
  int Unplug(int code) {
    session_.LeaveAfter(console_.FatalStatus());
    return code;
  }

  const Options& options_;
  std::FILE* err_;
  ConsoleWindow& console_;
  CliApiTable& api_;
  WriterSession& session_;
  RunReport& report_;
  const SlotMap* slots_;
  records::RecordStore* store_;
  ObjectFileFormat outputFormat_;
  RunIdentity run_;
  RunTargets targets_;
  std::optional<SerialNumbers> serials_;
  std::string refusal_;
  std::string storeError_;
  std::vector<ReadBack> readResults_;  // read and blank-check, per session target
};

}  // namespace

int OperateOnTargets(const TargetRunParts& parts) { return TargetRun(parts).Operate(); }

}  // namespace quarnel::cli
