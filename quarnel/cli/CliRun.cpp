#include "cli/CliRun.h"

#include <memory>
#include <optional>

#include "base/MemorySettingsStore.h"
#include "base/StringTable.h"
#include "base/TextIds.h"
#include "binding/VestraLibrary.h"
#include "cli/CliApiTable.h"
#include "cli/ConsoleWindow.h"
#include "cli/Emulators.h"
#include "cli/RunInput.h"
#include "cli/RunReport.h"
#include "cli/SlotMap.h"
#include "cli/TargetRun.h"
#include "objfile/ObjectFileWriter.h"
#include "session/WriterSession.h"

namespace quarnel::cli {
namespace {

// Emulators that connecting the way the window does reaches at most.
constexpr uint32_t kWindowEmulators = 2;

bool ConnectsEveryEmulator(const Options& options) {
  return options.allEmulators || options.emulators > kWindowEmulators || options.command == Command::Slots ||
         !options.slotsPath.empty();
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
    if (code == kPassed) code = OperatesOnTargets(options_.command) ? Operate() : ListAttached();
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
  int Fail(int code, const std::string& message) { return TellFailure(err_, report_, {code, message}); }
  int Fail(const RunFailure& failure) { return TellFailure(err_, report_, failure); }

  int Operate() {
    return OperateOnTargets(
        {options_, err_, console_, api_, session_, report_, SlotsOrNone(), store_.get(), outputFormat_});
  }

  // Library, descriptions and every check of the input: nothing touches an
  // emulator before all of it has passed.
  int Prepare() {
    if (auto failure = CheckDestinations(options_, console_, outputFormat_)) return Fail(*failure);
    const std::string library(LoadText(text::kLibraryName));
    std::string missing;
    const VestraLibrary::Outcome loaded = library_.Load(library, &missing);
    if (loaded != VestraLibrary::Outcome::Bound)
      return Fail(kNotPlugged, VestraLibrary::FailureText(loaded) +
                                   (missing.empty() ? "" : " (" + missing + " is missing)"));
    if (auto failure = ReadDescriptions(session_, err_)) return Fail(*failure);
    if (int code = ReadSlots(); code != kPassed) return code;
    if (!OperatesOnTargets(options_.command)) return kPassed;
    if (auto failure = TakeInput(options_, session_, console_)) return Fail(*failure);
    return OpenRecordStore();
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
    return kPassed;
  }

  int Connect() {
    if (auto failure = ConnectEmulators(session_, api_, options_, SlotsOrNone())) return Fail(*failure);
    return kPassed;
  }

  const SlotMap* SlotsOrNone() const { return slots_ ? &*slots_ : nullptr; }

  // list and slots: what is attached now.
  int ListAttached() {
    if (int code = Connect(); code != kPassed) return code;
    std::optional<RunFailure> failure;
    if (options_.command == Command::List)
      report_.targets = ListEmulators(session_, api_, SlotsOrNone(), out_);
    else
      failure = ListSlots(api_, options_, out_, err_);
    session_.Leave();
    return failure ? Fail(*failure) : kPassed;
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
  std::optional<SlotMap> slots_;
  ObjectFileFormat outputFormat_ = ObjectFileFormat::IntelHex;
  std::unique_ptr<records::RecordStore> store_;
};

}  // namespace

int RunCommandLine(const Options& options, std::FILE* out, std::FILE* err) {
  if (options.command == Command::Records || options.command == Command::Sequence)
    return RunStoreCommand(options, out, err);
  return Run(options, out, err).Execute();
}

}  // namespace quarnel::cli
