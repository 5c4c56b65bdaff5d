#include "cli/RunInput.h"

#include <filesystem>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "cli/ReadBack.h"
#include "image/AddressSyntax.h"

namespace quarnel::cli {
namespace {

// Whether both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// The questions that depend on the options alone.
std::optional<RunFailure> AskBeforeConnecting(const Options& options, ConsoleWindow& console) {
  std::optional<Question> question;
  if (options.command == Command::Write && !options.eraseBeforeWrite) question = Question::WriteWithoutErase;
  if (options.command == Command::Erase) question = Question::StartErasure;
  if (!question || console.Ask(*question, std::string(LoadText(BoxFor(*question).textId)))) return std::nullopt;
  return RunFailure{kBadInput, "a question was answered no; nothing was touched"};
}

// The blocks of erase (and of blank-check) as the erase list numbers them.
std::optional<RunFailure> SelectBlocks(const Options& options, EraseBlockTable& blocks) {
  auto indices = ParseBlockList(options.blocks, static_cast<uint32_t>(blocks.size()));
  if (!indices)
    return RunFailure{kBadInput, "bad BLOCKS " + options.blocks + " (1 to " + std::to_string(blocks.size()) + ")"};
  for (uint32_t index : *indices) {
    if (!blocks[index].available && options.blocks != "all" && options.command == Command::Erase)
      return RunFailure{kBadInput, "block " + std::to_string(index + 1) + " is Not Available"};
    blocks[index].selected = blocks[index].available || options.command == Command::BlankCheck;
  }
  return std::nullopt;
}

std::optional<RunFailure> ApplyNamedDescription(const Options& options, WriterSession& session) {
  switch (session.ApplyDescription(options.target)) {
    case WriterSession::Applied::UnknownName: {
      std::string known;
      for (const std::string& name : session.DescriptionNames()) known += " " + name;
      return RunFailure{kBadInput, "unknown target " + options.target + "; the target descriptions are:" + known};
    }
    case WriterSession::Applied::NoFlash:
      return RunFailure{kBadInput, "the target description " + options.target + " has no flash"};
    case WriterSession::Applied::Applied:
      break;
  }
  return std::nullopt;
}

std::optional<AddressRange> SerialRange(const Options& options) {
  if (!options.serial) return std::nullopt;
  return AddressRange{options.serial->address, options.serial->address + options.serial->size - 1};
}

FillMode FillModeOf(const Options& options) {
  return options.fillFromFlash ? FillMode::FlashContent : FillMode::ArbitraryData;
}

}  // namespace

std::optional<RunFailure> CheckDestinations(const Options& options, ConsoleWindow& console,
                                            ObjectFileFormat& outputFormat) {
  if (!options.logPath.empty()) {
    for (const FileArgument& file : options.files)
      if (SameFile(options.logPath, file.settings.fileName))
        return RunFailure{kBadInput, "--log " + options.logPath + " names the input file " + file.settings.fileName};
    if (const std::string why = console.OpenLog(); !why.empty())
      return RunFailure{kBadInput, "cannot create the log file " + options.logPath + ": " + why};
  }
  if (!options.jsonPath.empty()) {
    if (const std::string why = CheckReportFile(options.jsonPath); !why.empty())
      return RunFailure{kBadInput, "cannot write the JSON record " + options.jsonPath + ": " + why};
  }
  if (options.command == Command::Read) {
    if (!FormatForPath(options.output, outputFormat))
      return RunFailure{kBadInput, "read: " + options.output + " names no object file format (.hex, .srec or .bin)"};
    const std::string first = ReadBackFileName(options.output, 1);
    if (const std::string why = CheckReportFile(first); !why.empty())
      return RunFailure{kBadInput, "read: cannot write " + first + ": " + why};
  }
  return std::nullopt;
}

std::optional<RunFailure> ReadDescriptions(WriterSession& session, std::FILE* err) {
  const DescriptionsRead read = session.ReadDescriptions();
  if (read.failureTextId != 0) return RunFailure{kBadInput, std::string(LoadText(read.failureTextId))};
  if (read.someSkipped) std::fprintf(err, "quarnel-cli: %s\n", LoadText(text::kTrgSkipped).data());
  return std::nullopt;
}

std::optional<RunFailure> TakeInput(const Options& options, WriterSession& session, ConsoleWindow& console) {
  if (auto failure = ApplyNamedDescription(options, session)) return failure;
  const TargetGeometry& geometry = session.Target().geometry;
  console.SetBlockSize(geometry.eraseBlockSize);
  if (!options.fillFromFlash && !ParseFillByte(options.fillText))
    return RunFailure{kBadInput, std::string(LoadText(text::kIllegalFillByte))};
  if (auto failure = AskBeforeConnecting(options, console)) return failure;
  if (options.serial) {
    const SerialOption& serial = *options.serial;
    for (uint32_t k = 0; k < serial.size; ++k)
      if (!geometry.IsFlash(serial.address + k))
        return RunFailure{kBadInput, "the serial number at " + HexAddressText(serial.address) + " does not lie in flash"};
  }
  for (const FileArgument& file : options.files)
    if (const FileCheck check = session.Files().AddFileEntry(file.settings); !check)
      return RunFailure{kBadInput, file.settings.fileName + " was refused: " + check.text};
  if (!options.blocks.empty()) return SelectBlocks(options, session.Target().eraseBlocks);
  return std::nullopt;
}

WriteSettings WriteSettingsFor(const Options& options) {
  WriteSettings settings;
  settings.eraseBeforeWrite = options.eraseBeforeWrite;
  settings.notFill = options.notFill;
  settings.addTwoWords = options.addTwoWords;
  settings.fillMode = FillModeOf(options);
  settings.arbitraryData = options.fillText;
  // The window plans the additional data by the end address mode its radio
  // buttons show, normally that of the file listed last.
  settings.endMode = options.files.back().settings.endMode;
  settings.mustWrite = SerialRange(options);
  return settings;
}

VerifySettings VerifySettingsFor(const Options& options) {
  VerifySettings settings;
  settings.fillMode = FillModeOf(options);
  settings.arbitraryData = options.fillText;
  settings.alsoCompared = SerialRange(options);
  return settings;
}

}  // namespace quarnel::cli
