#include "cli/CliRun.h"

#include <linux/magic.h>
#include <sys/vfs.h>

#include <cstring>
#include <filesystem>

#include "app/VestraLibrary.h"
#include "base/MemorySettingsStore.h"
#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "cli/CliApiTable.h"
#include "cli/ConsoleWindow.h"
#include "cli/RunReport.h"
#include "image/AddressSyntax.h"
#include "plug/SecurityCheck.h"
#include "session/WriterSession.h"

namespace quarnel::cli {
namespace {

// Emulators that connecting the way the window does reaches at most.
constexpr uint32_t kWindowEmulators = 2;

const char* OperationName(Command command) {
  switch (command) {
    case Command::List:
      return "list";
    case Command::Write:
      return "write";
    case Command::Verify:
      return "verify";
    case Command::Erase:
      return "erase";
    default:
      return "";
  }
}

bool ConnectsEveryEmulator(const Options& options) {
  return options.allEmulators || options.emulators > kWindowEmulators;
}

// Whether both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// /proc and /sys take no log: their files accept an open and then refuse or
// swallow the lines.
std::string OnKernelFileSystem(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::absolute(path).parent_path();
  struct statfs info {};
  if (::statfs(parent.c_str(), &info) != 0) return {};
  if (info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC) return "it lies on a kernel file system";
  return {};
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
    report_.operation = OperationName(options.command);
  }

  int Execute() {
    int code = Prepare();
    if (code == kPassed) code = options_.command == Command::List ? List() : Operate();
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
    if (options_.command == Command::List) return kPassed;
    return CheckInput();
  }

  // Where the log and the JSON record go is checked before any emulator is
  // touched: a run must not write boards whose record it cannot keep.
  int CheckDestinations() {
    if (!options_.logPath.empty()) {
      for (const FileArgument& file : options_.files)
        if (SameFile(options_.logPath, file.settings.fileName))
          return Fail(kBadInput, "--log " + options_.logPath + " names the input file " + file.settings.fileName);
      if (const std::string why = OnKernelFileSystem(options_.logPath); !why.empty())
        return Fail(kBadInput, "cannot create the log file " + options_.logPath + ": " + why);
      if (const std::string why = console_.OpenLog(); !why.empty())
        return Fail(kBadInput, "cannot create the log file " + options_.logPath + ": " + why);
    }
    if (!options_.jsonPath.empty()) {
      if (const std::string why = CheckReportFile(options_.jsonPath); !why.empty())
        return Fail(kBadInput, "cannot write the JSON record " + options_.jsonPath + ": " + why);
    }
    return kPassed;
  }

  int ReadDescriptions() {
    const DescriptionsRead read = session_.ReadDescriptions();
    if (read.failureTextId != 0) return Fail(kBadInput, std::string(LoadText(read.failureTextId)));
    if (read.someSkipped) std::fprintf(err_, "quarnel-cli: %s\n", LoadText(text::kTrgSkipped).data());
    return kPassed;
  }

  int CheckInput() {
    const int32_t index = session_.FindDescription(options_.target);
    if (index < 0) {
      std::string known;
      for (const std::string& name : session_.DescriptionNames()) known += " " + name;
      return Fail(kBadInput, "unknown target " + options_.target + "; the target descriptions are:" + known);
    }
    if (ApplyTarget(session_.Descriptions()->array[index], session_.Target()) == ApplyOutcome::NoFlashAreas)
      return Fail(kBadInput, "the target description " + options_.target + " has no flash");
    session_.Buffers().Rebuild(session_.Scanner());
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
      if (!session_.Files().AddFileEntry(file.settings))
        return Fail(kBadInput, file.settings.fileName + " was refused: " + console_.LastMessage());
    if (options_.command == Command::Erase) return SelectBlocks();
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

  int SelectBlocks() {
    EraseBlockTable& blocks = session_.Target().eraseBlocks;
    auto indices = ParseBlockList(options_.blocks, static_cast<uint32_t>(blocks.size()));
    if (!indices) return Fail(kBadInput, "bad BLOCKS " + options_.blocks + " (1 to " + std::to_string(blocks.size()) + ")");
    for (uint32_t index : *indices) {
      if (!blocks[index].available && options_.blocks != "all")
        return Fail(kBadInput, "block " + std::to_string(index + 1) + " is Not Available");
      blocks[index].selected = blocks[index].available;
    }
    return kPassed;
  }

  // Connects and takes the KORVO access lock; then expects the emulators
  // the options name.
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
    const uint32_t count = api_.TargetCount();
    const uint32_t expected = options_.allEmulators ? 1 : options_.emulators;
    if (count < expected)
      return Fail(kNotPlugged, "found " + std::to_string(count) + " emulators, expected " + std::to_string(expected));
    return kPassed;
  }

  int List() {
    if (int code = Connect(); code != kPassed) return code;
    const uint32_t count = api_.TargetCount();
    std::fprintf(out_, "Emulators:\n");
    for (uint32_t n = 1; n <= count; ++n) {
      TargetReport target = Describe(n);
      target.firmware = api_.ProbeFirmware(n);
      target.passed = true;
      std::fprintf(out_, "  %u  %s  firmware %s  chip %s\n", n, target.devicePath.c_str(),
                  target.firmware.empty() ? "?" : target.firmware.c_str(),
                  ChipNameFromProductId(api_.ProbeProductId(n)).c_str());
      report_.targets.push_back(target);
    }
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

  TargetReport Describe(uint32_t n) {
    TargetReport target;
    target.number = n;
    target.devicePath = api_.DevicePath(n);
    return target;
  }

  int Plug() {
    if (int code = Connect(); code != kPassed) return code;
    settings_.WriteText(kTargetNameKey, options_.target);
    if (options_.securityId) {
      std::vector<uint16_t> words = *ParseSecurityWords(*options_.securityId);
      RememberSecurityId(settings_, words);
    }
    if (options_.serial) {
      if (!options_.serial->Fits(api_.TargetCount()))
        return Unplug(Fail(kBadInput, "the serial numbers from " + std::to_string(options_.serial->first) + " for " +
                                          std::to_string(api_.TargetCount()) + " targets do not fit in " +
                                          std::to_string(options_.serial->size) + " bytes; nothing was written"));
      for (uint32_t n = 1; n <= api_.TargetCount(); ++n) {
        std::vector<uint8_t> bytes = options_.serial->BytesFor(n);
        api_.SetSerialNumber(n, bytes.data(), static_cast<uint32_t>(bytes.size()));
      }
    }
    if (session_.Plug().RunStartUpPlugLoop())
      return Unplug(Fail(kNotPlugged, "the emulators could not be plugged"));
    switch (session_.Plug().RunSecurityCheck()) {
      case SecurityCheckResult::Passed:
        return kPassed;
      case SecurityCheckResult::Failed:
        console_.ReportStatus(api_.Status());
        return Unplug(Fail(kNotPlugged, "the security check failed"));
      case SecurityCheckResult::ExitRequested:
        break;
    }
    return Unplug(Fail(kNotPlugged, "the chip is still read-protected"));
  }

  int Operate() {
    if (int code = Plug(); code != kPassed) return code;
    ConsoleWindow::InstallCancelOnSignals();
    std::vector<uint64_t> differences;
    const OperationOutcome outcome = RunOperation(differences);
    const int code = Judge(outcome, differences);
    return Unplug(code);
  }

  OperationOutcome RunOperation(std::vector<uint64_t>& differences) {
    const FillMode fill = options_.fillFromFlash ? FillMode::FlashContent : FillMode::ArbitraryData;
    if (options_.command == Command::Write) {
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
      bool serialNotWritten = false;
      const OperationOutcome outcome = session_.Write(settings, &serialNotWritten);
      if (serialNotWritten)
        refusal_ = "the serial number at " + HexAddressText(options_.serial->address) +
                   " lies outside the flash this run writes on every target (see --end, --not-fill, --no-erase); "
                   "nothing was written";
      return outcome;
    }
    if (options_.command == Command::Verify) {
      VerifySettings settings;
      settings.fillMode = fill;
      settings.arbitraryData = options_.fillText;
      if (options_.serial) settings.adjustExpected = [this](uint32_t n, std::span<uint8_t> image) { ExpectSerial(n, image); };
      settings.alsoCompared = SerialRange();
      return session_.Verify(settings, &differences);
    }
    return session_.Erase();
  }

  std::optional<AddressRange> SerialRange() const {
    if (!options_.serial) return std::nullopt;
    return AddressRange{options_.serial->address, options_.serial->address + options_.serial->size - 1};
  }

  void ExpectSerial(uint32_t n, std::span<uint8_t> image) const {
    const std::vector<uint8_t> bytes = options_.serial->BytesFor(n);
    for (size_t k = 0; k < bytes.size(); ++k) {
      const uint64_t address = uint64_t{options_.serial->address} + k;
      if (address < image.size()) image[address] = bytes[k];
    }
  }

  // Every target's own outcome, read before anything resets them.
  int Judge(OperationOutcome outcome, const std::vector<uint64_t>& differences) {
    if (outcome == OperationOutcome::NotStarted) {
      if (!refusal_.empty()) return Fail(kBadInput, refusal_);
      if (console_.DeclinedQuestion()) return Fail(kBadInput, "a question was answered no; nothing was touched");
      return Fail(kBadInput, "the operation did not start: " + console_.LastMessage());
    }
    bool allPassed = outcome == OperationOutcome::Completed;
    for (uint32_t n = 1; n <= api_.TargetCount(); ++n) {
      TargetReport target = Describe(n);
      target.firmware = api_.FirmwareVersion(n);
      target.status = api_.TargetStatus(n);
      if (options_.serial && options_.command != Command::Erase) target.serialNumber = options_.serial->BytesFor(n);
      if (options_.command == Command::Verify) target.differences = n <= differences.size() ? differences[n - 1] : 0;
      target.passed = outcome == OperationOutcome::Completed && target.status == 0 && target.differences.value_or(0) == 0;
      allPassed = allPassed && target.passed;
      report_.targets.push_back(target);
    }
    if (outcome == OperationOutcome::Cancelled) report_.message = "interrupted";
    return allPassed ? kPassed : kTargetFailed;
  }

  // Leaves the emulators as the window does when it closes.
  int Unplug(int code) {
    if (const int fatal = console_.FatalStatus(); fatal != 0)
      session_.Plug().GoUnplugged(!IsLinkStatus(fatal));
    else
      session_.Leave();
    return code;
  }

  const Options& options_;
  std::FILE* out_;
  std::FILE* err_;
  ConsoleWindow console_;
  VestraLibrary library_;
  CliApiTable api_;
  MemorySettingsStore settings_;
  WriterSession session_{api_, settings_, console_};
  RunReport report_;
  std::string refusal_;
};

}  // namespace

int RunCommandLine(const Options& options, std::FILE* out, std::FILE* err) {
  return Run(options, out, err).Execute();
}

}  // namespace quarnel::cli
