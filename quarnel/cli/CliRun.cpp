#include "cli/CliRun.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include "binding/VestraLibrary.h"
#include "base/MemorySettingsStore.h"
#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "cli/CliApiTable.h"
#include "cli/ConsoleWindow.h"
#include "cli/ReadBack.h"
#include "cli/RunReport.h"
#include "cli/RunTargets.h"
#include "cli/SerialNumbers.h"
#include "cli/SlotMap.h"
#include "image/AddressSyntax.h"
#include "objfile/ObjectFileWriter.h"
#include "recording/RunRecords.h"
#include "session/TargetResults.h"
#include "session/WriterSession.h"

namespace quarnel::cli {
namespace {

// Emulators that connecting the way the window does reaches at most.
constexpr uint32_t kWindowEmulators = 2;

bool ConnectsEveryEmulator(const Options& options) {
  return options.allEmulators || options.emulators > kWindowEmulators || options.command == Command::Slots ||
         !options.slotsPath.empty();
}

// Whether both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

std::optional<uint32_t> SerialAddress(const Options& options) {
  if (!options.serial) return std::nullopt;
  return options.serial->address;
}

// One run of the program: what it was asked, what it holds, what it found.
class Run {
 public:
  Run(const Options& options, std::FILE* out, std::FILE* err)
      : options_(options),
        out_(out),
        err_(err),
        console_({options.quiet, options.yes, options.initialize, options.logPath}, out, err),
        api_(library_.Table(), ConnectsEveryEmulator(options), SerialAddress(options)) {
    report_.operation = CommandName(options.command);
  }

  int Execute() {
    int code = Prepare();
    if (code == kPassed) {
      if (options_.command == Command::List)
        code = List();
      else if (options_.command == Command::Slots)
        code = Slots();
      else
        code = Operate();
    }
    // The boards are done; a log line that did not get out still fails the run.
    if (const std::string& streamError = console_.StreamError(); !streamError.empty()) {
      std::fprintf(err_, "quarnel-cli: %s\n", streamError.c_str());
      if (report_.message.empty()) report_.message = streamError;
      if (code == kPassed) code = kTargetFailed;
    }
    report_.exitCode = code;
    if (!options_.jsonPath.empty() && !WriteReportFile(options_.jsonPath, options_, report_)) {
      std::fprintf(err_, "quarnel-cli: %s could not be written\n", options_.jsonPath.c_str());
      if (code == kPassed) code = kTargetFailed;
    }
    return code;
  }

 private:
  int Fail(int code, const std::string& message) {
    std::fprintf(err_, "quarnel-cli: %s\n", message.c_str());
    report_.message = message;
    return code;
  }

  // Library, descriptions and every check of the input: nothing touches an
  // emulator before all of it has passed.
  int Prepare() {
    if (int code = CheckDestinations(); code != kPassed) return code;
    const std::string library(LoadText(text::kLibraryName));
    std::string missing;
    switch (library_.Load(library, &missing)) {
      case VestraLibrary::Outcome::Bound:
        break;
      case VestraLibrary::Outcome::NotFound:
        return Fail(kNotPlugged, library + std::string(LoadText(text::kNotFound)));
      case VestraLibrary::Outcome::Invalid:
        return Fail(kNotPlugged, std::string(LoadText(text::kInvalid)) + library + " (" + missing + " is missing)");
    }
    if (int code = ReadDescriptions(); code != kPassed) return code;
    if (int code = ReadSlots(); code != kPassed) return code;
    if (!OperatesOnTargets(options_.command)) return kPassed;
    if (int code = CheckInput(); code != kPassed) return code;
    return OpenRecordStore();
  }

  // Where the log, the JSON record and the read-back files go is checked
  // before any emulator is touched: a run must not write boards whose record
  // it cannot keep.
  int CheckDestinations() {
    if (!options_.logPath.empty()) {
      for (const FileArgument& file : options_.files)
        if (SameFile(options_.logPath, file.settings.fileName))
          return Fail(kBadInput, "--log " + options_.logPath + " names the input file " + file.settings.fileName);
      if (const std::string why = console_.OpenLog(); !why.empty())
        return Fail(kBadInput, "cannot create the log file " + options_.logPath + ": " + why);
    }
    if (!options_.jsonPath.empty()) {
      if (const std::string why = CheckReportFile(options_.jsonPath); !why.empty())
        return Fail(kBadInput, "cannot write the JSON record " + options_.jsonPath + ": " + why);
    }
    if (options_.command == Command::Read) {
      if (!FormatForPath(options_.output, outputFormat_))
        return Fail(kBadInput, "read: " + options_.output + " names no object file format (.hex, .srec or .bin)");
      const std::string first = ReadBackFileName(options_.output, 1);
      if (const std::string why = CheckReportFile(first); !why.empty())
        return Fail(kBadInput, "read: cannot write " + first + ": " + why);
    }
    return kPassed;
  }

  int ReadDescriptions() {
    const DescriptionsRead read = session_.ReadDescriptions();
    if (read.failureTextId != 0) return Fail(kBadInput, std::string(LoadText(read.failureTextId)));
    if (read.someSkipped) std::fprintf(err_, "quarnel-cli: %s\n", LoadText(text::kTrgSkipped).data());
    return kPassed;
  }

  int ReadSlots() {
    if (options_.slotsPath.empty()) return kPassed;
    std::string error;
    slots_ = ReadSlotMap(options_.slotsPath, &error);
    return slots_ ? kPassed : Fail(kBadInput, error);
  }

  int OpenRecordStore() {
    records::StoreResult result;
    store_ = records::RecordStore::Open(RecordsUrl(options_), &result);
    if (!store_) return Fail(kNotPlugged, "the record store cannot be opened: " + result.error + "; nothing was touched");
    if (options_.serial && (options_.command == Command::Write || options_.command == Command::Verify))
      serials_.emplace(*options_.serial, store_.get());
    return kPassed;
  }

  int CheckInput() {
    switch (session_.ApplyDescription(options_.target)) {
      case WriterSession::Applied::UnknownName: {
        std::string known;
        for (const std::string& name : session_.DescriptionNames()) known += " " + name;
        return Fail(kBadInput, "unknown target " + options_.target + "; the target descriptions are:" + known);
      }
      case WriterSession::Applied::NoFlash:
        return Fail(kBadInput, "the target description " + options_.target + " has no flash");
      case WriterSession::Applied::Applied:
        break;
    }
    console_.SetBlockSize(session_.Target().geometry.eraseBlockSize);
    if (!options_.fillFromFlash && !ParseFillByte(options_.fillText))
      return Fail(kBadInput, std::string(LoadText(text::kIllegalFillByte)));
    if (int code = AskBeforeConnecting(); code != kPassed) return code;
    if (options_.serial) {
      const SerialOption& serial = *options_.serial;
      for (uint32_t k = 0; k < serial.size; ++k)
        if (!session_.Target().geometry.IsFlash(serial.address + k))
          return Fail(kBadInput, "the serial number at " + HexAddressText(serial.address) + " does not lie in flash");
    }
    for (const FileArgument& file : options_.files)
      if (const FileCheck check = session_.Files().AddFileEntry(file.settings); !check)
        return Fail(kBadInput, file.settings.fileName + " was refused: " + check.text);
    if (!options_.blocks.empty()) return SelectBlocks();
    return kPassed;
  }

  // The questions that depend on the options alone are asked before any
  // emulator is touched.
  int AskBeforeConnecting() {
    std::optional<Question> question;
    if (options_.command == Command::Write && !options_.eraseBeforeWrite) question = Question::WriteWithoutErase;
    if (options_.command == Command::Erase) question = Question::StartErasure;
    if (!question || console_.Ask(*question, std::string(LoadText(BoxFor(*question).textId)))) return kPassed;
    return Fail(kBadInput, "a question was answered no; nothing was touched");
  }

  // The blocks of erase (and of blank-check) as the erase list numbers them.
  int SelectBlocks() {
    EraseBlockTable& blocks = session_.Target().eraseBlocks;
    auto indices = ParseBlockList(options_.blocks, static_cast<uint32_t>(blocks.size()));
    if (!indices) return Fail(kBadInput, "bad BLOCKS " + options_.blocks + " (1 to " + std::to_string(blocks.size()) + ")");
    for (uint32_t index : *indices) {
      if (!blocks[index].available && options_.blocks != "all" && options_.command == Command::Erase)
        return Fail(kBadInput, "block " + std::to_string(index + 1) + " is Not Available");
      blocks[index].selected = blocks[index].available || options_.command == Command::BlankCheck;
    }
    return kPassed;
  }

  // Connects and takes the KORVO access lock; then expects the emulators
  // the options (or the slot map) name.
  int Connect() {
    Plugging& plugging = session_.Plug();
    if (!plugging.Connect(Plugging::Variant::StartUp)) {
      switch (plugging.LastConnectFailure()) {
        case Plugging::ConnectFailure::LockBusy:
          return Fail(kNotPlugged, "another program is using the emulators: the KORVO access lock " +
                                       plugging.KorvoLock().Path() + " was not obtained within " +
                                       std::to_string(kKorvoLockWait.count()) + " ms");
        case Plugging::ConnectFailure::LockUnusable:
          return Fail(kNotPlugged, plugging.KorvoLock().Error());
        default:
          return Fail(kNotPlugged, "no emulator plugged");
      }
    }
    if (!api_.MissingPaths().empty()) return MissingSlots();
    const uint32_t count = api_.TargetCount();
    const uint32_t expected = options_.allEmulators ? 1 : options_.emulators;
    if (!slots_ && count < expected)
      return Fail(kNotPlugged, "found " + std::to_string(count) + " emulators, expected " + std::to_string(expected));
    return kPassed;
  }

  int MissingSlots() {
    std::string missing;
    for (const std::string& path : api_.MissingPaths()) {
      const std::optional<int> slot = slots_ ? slots_->SlotOf(path) : std::nullopt;
      missing += (missing.empty() ? "" : ", ") + (slot ? "slot " + std::to_string(*slot) + " (" + path + ")" : path);
    }
    session_.Leave();
    return Fail(kNotPlugged, "no emulator at " + missing + "; nothing was written");
  }

  std::optional<int> SlotOf(const std::string& path) const {
    return slots_ ? slots_->SlotOf(path) : std::nullopt;
  }

  int List() {
    if (int code = Connect(); code != kPassed) return code;
    const uint32_t count = api_.TargetCount();
    std::fprintf(out_, "Emulators:\n");
    for (uint32_t n = 1; n <= count; ++n) {
      TargetReport target = Describe(n);
      target.firmware = api_.ProbeFirmware(n);
      target.passed = true;
      std::fprintf(out_, "  %u  %s%s  firmware %s  chip %s\n", n, target.slot ? ("slot " + std::to_string(*target.slot) + "  ").c_str() : "",
                   target.devicePath.c_str(), target.firmware.empty() ? "?" : target.firmware.c_str(),
                   ChipNameFromProductId(api_.TargetProductIdWord(n)).c_str());
      report_.targets.push_back(target);
    }
    if (slots_) ListMissingSlots();
    std::fprintf(out_, "Target descriptions:\n");
    const TRGINFO* set = session_.Descriptions();
    for (int32_t k = 0; k < set->count; ++k) {
      AppliedTarget applied;
      ApplyTarget(set->array[k], applied);
      std::fprintf(out_, "  %-12s  flash %s - %s  block %XH\n", TargetNameOf(set->array[k]).c_str(),
                   HexAddressText(applied.geometry.flashLow).c_str(), HexAddressText(applied.geometry.flashHigh).c_str(),
                   static_cast<unsigned>(set->array[k].blockSize));
    }
    std::fflush(out_);
    session_.Leave();
    return kPassed;
  }

  void ListMissingSlots() {
    for (const auto& [slot, path] : slots_->paths) {
      bool attached = false;
      for (uint32_t n = 1; n <= api_.TargetCount(); ++n) attached = attached || api_.DevicePath(n) == path;
      if (!attached) std::fprintf(out_, "  -  slot %d  %s  no emulator\n", slot, path.c_str());
    }
  }

  // slots [--save FILE]: slots 1, 2, ... for the emulators attached now.
  int Slots() {
    if (int code = Connect(); code != kPassed) return code;
    std::vector<std::string> paths;
    for (uint32_t n = 1; n <= api_.TargetCount(); ++n) paths.push_back(api_.DevicePath(n));
    session_.Leave();
    const std::string text = SlotMapText(paths);
    std::fputs(text.c_str(), out_);
    if (options_.saveSlotsPath.empty()) return kPassed;
    if (const std::string why = SaveFile(options_.saveSlotsPath, text); !why.empty())
      return Fail(kBadInput, "cannot write the slot map " + options_.saveSlotsPath + ": " + why);
    std::fprintf(err_, "quarnel-cli: saved %zu slots in %s\n", paths.size(), options_.saveSlotsPath.c_str());
    return kPassed;
  }

  TargetReport Describe(uint32_t n) {
    TargetReport target;
    target.number = n;
    target.devicePath = api_.DevicePath(n);
    target.slot = SlotOf(target.devicePath);
    return target;
  }

  // The first connect: with a slot map the targets are the slots' emulators
  // in slot order. Every target gets its report; the attempts to come
  // refer to them by number.
  int ConnectTargets() {
    if (slots_) api_.SelectOnConnect(slots_->PathsInSlotOrder());
    if (int code = Connect(); code != kPassed) return code;
    for (uint32_t n = 1; n <= api_.TargetCount(); ++n) targets_.Add(Describe(n));
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
    const FillMode fill = options_.fillFromFlash ? FillMode::FlashContent : FillMode::ArbitraryData;
    switch (options_.command) {
      case Command::Write: {
        WriteSettings settings;
        settings.eraseBeforeWrite = options_.eraseBeforeWrite;
        settings.notFill = options_.notFill;
        settings.addTwoWords = options_.addTwoWords;
        settings.fillMode = fill;
        settings.arbitraryData = options_.fillText;
        // The window plans the additional data by the end address mode its
        // radio buttons show, normally that of the file listed last.
        settings.endMode = options_.files.back().settings.endMode;
        settings.mustWrite = SerialRange();
        const OperationOutcome outcome = session_.Write(settings);
        if (session_.LastRun().requiredRangeMissed)
          refusal_ = "the serial number at " + HexAddressText(options_.serial->address) +
                     " lies outside the flash this run writes on every target (see --end, --not-fill, --no-erase); "
                     "nothing was written";
        return outcome;
      }
      case Command::Verify: {
        VerifySettings settings;
        settings.fillMode = fill;
        settings.arbitraryData = options_.fillText;
        if (options_.serial)
          settings.adjustExpected = [this](uint32_t n, std::span<uint8_t> image) { ExpectSerial(n, image); };
        settings.alsoCompared = SerialRange();
        return session_.Verify(settings);
      }
      case Command::Erase:
        return session_.Erase();
      default:
        return ReadTargets();
    }
  }

  std::optional<AddressRange> SerialRange() const {
    if (!options_.serial) return std::nullopt;
    return AddressRange{options_.serial->address, options_.serial->address + options_.serial->size - 1};
  }

  void ExpectSerial(uint32_t n, std::span<uint8_t> image) const {
    const std::vector<uint8_t> bytes = serials_->BytesOf(targets_.InAttempt()[n - 1]);
    for (size_t k = 0; k < bytes.size(); ++k) {
      const uint64_t address = uint64_t{options_.serial->address} + k;
      if (address < image.size()) image[address] = bytes[k];
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
    const std::vector<TargetOutcome> outcomes = RecordedOutcomes(
        session_, api_, options_.command == Command::Write || options_.command == Command::Verify);
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
  std::FILE* out_;
  std::FILE* err_;
  ConsoleWindow console_;
  VestraLibrary library_;
  CliApiTable api_;
  // What the session remembers lasts for this run only.
  MemorySettingsStore settings_;
  WriterSession session_{api_, settings_, console_};
  RunReport report_;
  std::string refusal_;
  std::optional<SlotMap> slots_;
  ObjectFileFormat outputFormat_ = ObjectFileFormat::IntelHex;
  std::unique_ptr<records::RecordStore> store_;
  RunIdentity run_;
  std::string storeError_;
  RunTargets targets_;
  std::optional<SerialNumbers> serials_;
  std::vector<ReadBack> readResults_;  // read and blank-check, per session target
};

}  // namespace

int RunCommandLine(const Options& options, std::FILE* out, std::FILE* err) {
  if (options.command == Command::Records || options.command == Command::Sequence)
    return RunStoreCommand(options, out, err);
  return Run(options, out, err).Execute();
}

}  // namespace quarnel::cli
