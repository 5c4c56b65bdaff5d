#include "cli/CliOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <string_view>
#include <utility>

#include "image/AddressSyntax.h"

namespace quarnel::cli {
namespace {

constexpr uint32_t kMostEmulators = 32;
constexpr size_t kMostSecurityWords = 12;
constexpr uint32_t kMostRetries = 9;

struct Parser {
  const std::vector<std::string>& args;
  size_t next = 0;
  Options options;
  std::string error;

  bool Fail(std::string why) {
    error = std::move(why);
    return false;
  }
  bool AtEnd() const { return next >= args.size(); }
  // The value after an option; false (with the error) when there is none.
  bool Value(const std::string& option, std::string& value) {
    if (AtEnd()) return Fail(option + " needs a value");
    value = args[next++];
    return true;
  }
};

std::optional<uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t pos = 0;;) {
    size_t found = text.find(separator, pos);
    parts.push_back(text.substr(pos, found - pos));
    if (found == std::string_view::npos) return parts;
    pos = found + 1;
  }
}

// A sequence name: letters, digits, '-', '_' and '.', as it goes into
// records and the store.
bool IsSequenceName(std::string_view name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
  });
}

bool ParseSerial(Parser& p, const std::string& text) {
  std::vector<std::string_view> parts = Split(text, ':');
  if (parts.size() < 2 || parts.size() > 3) return p.Fail("--serial takes ADDR:FIRST[:SIZE] or ADDR:@NAME[:SIZE]");
  SerialOption serial;
  auto address = ParseAddress(parts[0]);
  if (!address) return p.Fail("--serial: bad address " + std::string(parts[0]));
  serial.address = *address;
  if (parts[1].starts_with('@')) {
    serial.sequence = std::string(parts[1].substr(1));
    if (!IsSequenceName(serial.sequence)) return p.Fail("--serial: bad sequence name " + std::string(parts[1]));
  } else {
    auto first = ParseNumber(parts[1]);
    if (!first) return p.Fail("--serial: bad first number " + std::string(parts[1]));
    serial.first = *first;
  }
  auto size = parts.size() == 3 ? ParseNumber(parts[2]) : std::optional<uint64_t>(4);
  if (!size || *size < 1 || *size > 8) return p.Fail("--serial: SIZE must be 1 to 8 bytes");
  serial.size = static_cast<uint32_t>(*size);
  p.options.serial = serial;
  return true;
}

bool ParseCount(Parser& p, const std::string& option, uint32_t most, uint32_t& count) {
  std::string value;
  if (!p.Value(option, value)) return false;
  auto number = ParseNumber(value);
  if (!number || *number > most) return p.Fail(option + " takes 0 to " + std::to_string(most));
  count = static_cast<uint32_t>(*number);
  return true;
}

// The options of the records command; false when `option` is none of them.
std::optional<bool> ParseRecordsOption(Parser& p, const std::string& option) {
  RecordsOptions& r = p.options.records;
  std::string value;
  if (option == "--csv") return r.csv = true;
  if (option == "--json") return r.json = true;
  if (option == "--since") {
    if (!p.Value(option, value)) return false;
    r.since = value;
    return true;
  }
  if (option == "--serial") {
    if (!p.Value(option, value)) return false;
    r.serialNumber = ParseNumber(value);
    return r.serialNumber ? true : p.Fail("--serial: bad number " + value);
  }
  return std::nullopt;
}

bool ParseEmulators(Parser& p, const std::string& text) {
  if (text == "all") {
    p.options.allEmulators = true;
    p.options.emulators = 1;
    return true;
  }
  auto count = ParseNumber(text);
  if (!count || *count < 1 || *count > kMostEmulators) return p.Fail("--emulators takes 1 to 32 or all");
  p.options.emulators = static_cast<uint32_t>(*count);
  return true;
}

void SetEnd(FileEntrySettings& file, const std::string& text) {
  if (text == "memory") {
    file.endMode = EndAddressMode::EndOfMemory;
  } else if (text == "file") {
    file.endMode = EndAddressMode::FileContent;
  } else {
    file.endMode = EndAddressMode::Arbitrary;
    file.arbitraryEndText = text;
  }
}

bool IsFileOption(const std::string& option) {
  return option == "--start" || option == "--offset" || option == "--end";
}

// A FILE OPTION applies to the file named just before it.
bool ParseFileOption(Parser& p, const std::string& option) {
  if (p.options.files.empty()) return p.Fail(option + " belongs after a FILE");
  FileEntrySettings& file = p.options.files.back().settings;
  if (option == "--start") return p.Value(option, file.startText);
  if (option == "--offset") return p.Value(option, file.offsetText);
  std::string end;
  if (!p.Value(option, end)) return false;
  SetEnd(file, end);
  return true;
}

struct Switch {
  const char* name;
  bool Options::*field;
  bool value;
};
constexpr Switch kSwitches[] = {
    {"--fill-flash", &Options::fillFromFlash, true}, {"--no-erase", &Options::eraseBeforeWrite, false},
    {"--not-fill", &Options::notFill, true},         {"--no-add-words", &Options::addTwoWords, false},
    {"--initialize", &Options::initialize, true},    {"--quiet", &Options::quiet, true},
    {"--yes", &Options::yes, true},
};

bool ParseOption(Parser& p, const std::string& option) {
  Options& o = p.options;
  if (IsFileOption(option)) return ParseFileOption(p, option);
  if (o.command == Command::Records)
    if (std::optional<bool> parsed = ParseRecordsOption(p, option)) return *parsed;
  if (o.command == Command::Slots && option == "--save") return p.Value(option, o.saveSlotsPath);
  for (const Switch& s : kSwitches) {
    if (option == s.name) {
      o.*s.field = s.value;
      return true;
    }
  }
  std::string value;
  if (option == "--target") return p.Value(option, o.target);
  if (option == "--emulators") return p.Value(option, value) && ParseEmulators(p, value);
  if (option == "--fill") return p.Value(option, o.fillText);
  if (option == "--security-id") {
    if (!p.Value(option, value)) return false;
    o.securityId = value;
    return true;
  }
  if (option == "--serial") return p.Value(option, value) && ParseSerial(p, value);
  if (option == "--json") return p.Value(option, o.jsonPath);
  if (option == "--log") return p.Value(option, o.logPath);
  if (option == "--slots") return p.Value(option, o.slotsPath);
  if (option == "--records") return p.Value(option, o.recordsUrl);
  if (option == "--retry") return ParseCount(p, option, kMostRetries, o.retries);
  if (option == "--help" || option == "-h") {
    o.command = Command::Help;
    p.next = p.args.size();
    return true;
  }
  return p.Fail("unknown option " + option);
}

constexpr std::pair<Command, std::string_view> kCommandNames[] = {
    {Command::List, "list"},         {Command::Write, "write"},     {Command::Verify, "verify"},
    {Command::Erase, "erase"},       {Command::Read, "read"},       {Command::BlankCheck, "blank-check"},
    {Command::Records, "records"},   {Command::Sequence, "sequence"}, {Command::Slots, "slots"},
    {Command::UdevRule, "udev-rule"}, {Command::Help, "help"},
};

std::optional<Command> CommandNamed(const std::string& word) {
  for (const auto& [command, name] : kCommandNames)
    if (name == word) return command;
  return std::nullopt;
}

bool TakesFiles(Command command) { return command == Command::Write || command == Command::Verify; }

bool CheckComplete(Parser& p, bool commandSeen) {
  const Options& o = p.options;
  if (o.command == Command::Help) return true;
  if (!commandSeen) return p.Fail("no command given (list, write, verify, erase, read, blank-check)");
  if (TakesFiles(o.command) && o.files.empty()) return p.Fail("no FILE given");
  if (o.command == Command::Erase && o.blocks.empty()) return p.Fail("erase needs BLOCKS (e.g. 3,5-7 or all)");
  if (o.command == Command::Read && o.output.empty()) return p.Fail("read needs OUTPUT (a .hex, .srec or .bin file)");
  if (o.command == Command::Sequence && o.sequenceName.empty()) return p.Fail("sequence needs NAME FIRST");
  if (o.records.csv && o.records.json) return p.Fail("--csv and --json exclude each other");
  if (o.serial && !o.serial->sequence.empty() && o.command != Command::Write)
    return p.Fail("--serial ADDR:@NAME takes numbers for write only; verify with the fixed form");
  const bool needsTarget = OperatesOnTargets(o.command);
  if (needsTarget && o.target.empty()) return p.Fail("--target NAME is required");
  if (o.securityId && o.initialize) return p.Fail("--security-id and --initialize exclude each other");
  if (o.securityId && !ParseSecurityWords(*o.securityId)) return p.Fail("--security-id: bad words");
  return true;
}

}  // namespace

std::string CommandName(Command command) {
  for (const auto& [known, name] : kCommandNames)
    if (known == command) return std::string(name);
  return {};
}

bool OperatesOnTargets(Command command) {
  return TakesFiles(command) || command == Command::Erase || command == Command::Read ||
         command == Command::BlankCheck;
}

std::optional<std::vector<uint64_t>> SerialOption::FixedNumbers(uint32_t targets) const {
  std::vector<uint64_t> numbers;
  for (uint32_t n = 0; n < targets; ++n) {
    const uint64_t number = first + n;
    if (number < first || SerialBytes(number, size).empty()) return std::nullopt;
    numbers.push_back(number);
  }
  return numbers;
}

std::vector<uint8_t> SerialBytes(uint64_t number, uint32_t size) {
  if (size < 8 && number >> (8 * size) != 0) return {};
  std::vector<uint8_t> bytes(size);
  for (uint32_t i = size; i-- > 0; number >>= 8) bytes[i] = static_cast<uint8_t>(number);
  return bytes;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  Parser p{arguments, 0, {}, {}};
  bool commandSeen = false;
  bool fillSeen = false;
  bool sequenceFirstSeen = false;
  while (!p.AtEnd()) {
    const std::string& word = p.args[p.next++];
    if (word.size() > 1 && word[0] == '-') {
      if (word == "--fill") fillSeen = true;
      if (!ParseOption(p, word)) return {std::nullopt, p.error};
      continue;
    }
    if (!commandSeen) {
      auto command = CommandNamed(word);
      if (!command) return {std::nullopt, "unknown command " + word};
      p.options.command = *command;
      commandSeen = true;
    } else if (TakesFiles(p.options.command)) {
      FileArgument file;
      file.settings.fileName = word;
      file.settings.startText = "0";
      p.options.files.push_back(std::move(file));
    } else if ((p.options.command == Command::Erase || p.options.command == Command::BlankCheck) &&
               p.options.blocks.empty()) {
      p.options.blocks = word;
    } else if (p.options.command == Command::Read && p.options.output.empty()) {
      p.options.output = word;
    } else if (p.options.command == Command::Sequence && p.options.sequenceName.empty()) {
      if (!IsSequenceName(word)) return {std::nullopt, "bad sequence name " + word};
      p.options.sequenceName = word;
    } else if (p.options.command == Command::Sequence && !sequenceFirstSeen) {
      auto first = ParseNumber(word);
      if (!first) return {std::nullopt, "bad first number " + word};
      p.options.sequenceFirst = *first;
      sequenceFirstSeen = true;
    } else {
      return {std::nullopt, "unexpected argument " + word};
    }
  }
  if (fillSeen && p.options.fillFromFlash) return {std::nullopt, "--fill and --fill-flash exclude each other"};
  if (p.options.command == Command::Sequence && commandSeen && !sequenceFirstSeen)
    return {std::nullopt, "sequence needs NAME FIRST"};
  if (!CheckComplete(p, commandSeen)) return {std::nullopt, p.error, !commandSeen};
  return {std::move(p.options), {}};
}

std::optional<std::vector<uint32_t>> ParseBlockList(std::string_view text, uint32_t blockCount) {
  std::set<uint32_t> indices;
  if (text == "all") {
    for (uint32_t i = 0; i < blockCount; ++i) indices.insert(i);
    return std::vector<uint32_t>(indices.begin(), indices.end());
  }
  for (std::string_view item : Split(text, ',')) {
    std::vector<std::string_view> ends = Split(item, '-');
    if (ends.size() > 2) return std::nullopt;
    auto first = ParseNumber(ends.front());
    auto last = ParseNumber(ends.back());
    if (!first || !last || *first < 1 || *last < *first || *last > blockCount) return std::nullopt;
    for (uint64_t number = *first; number <= *last; ++number) indices.insert(static_cast<uint32_t>(number - 1));
  }
  if (indices.empty()) return std::nullopt;
  return std::vector<uint32_t>(indices.begin(), indices.end());
}

std::optional<std::vector<uint16_t>> ParseSecurityWords(std::string_view text) {
  std::vector<uint16_t> words;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t begin = text.find_first_not_of(" ,:", pos);
    if (begin == std::string_view::npos) break;
    size_t end = std::min(text.find_first_of(" ,:", begin), text.size());
    std::string_view group = text.substr(begin, end - begin);
    if (group.size() > 4 || words.size() == kMostSecurityWords) return std::nullopt;
    uint16_t word = 0;
    auto [stop, error] = std::from_chars(group.data(), group.data() + group.size(), word, 16);
    if (error != std::errc() || stop != group.data() + group.size()) return std::nullopt;
    words.push_back(word);
    pos = end;
  }
  if (words.empty()) return std::nullopt;
  return words;
}

std::string UsageText() {
  return R"(Usage:
  quarnel-cli [OPTIONS] list
  quarnel-cli [OPTIONS] write  FILE [FILE OPTIONS] [FILE [FILE OPTIONS]]...
  quarnel-cli [OPTIONS] verify FILE [FILE OPTIONS] [FILE [FILE OPTIONS]]...
  quarnel-cli [OPTIONS] erase  BLOCKS
  quarnel-cli [OPTIONS] read   OUTPUT
  quarnel-cli [OPTIONS] blank-check [BLOCKS]
  quarnel-cli [--records URL] records [--since TIME] [--serial N] [--csv|--json]
  quarnel-cli [--records URL] sequence NAME FIRST
  quarnel-cli slots [--save FILE]
  quarnel-cli udev-rule

Writes, verifies and erases the flash of every plugged target, as the
QUARNEL window does, for scripts and production lines.

Commands:
  list        every attached emulator (target number, device path, firmware,
              chip name) and every target description read (name, flash
              range, block size); needs no --target
  write       Write & Check of the listed files
  verify      compare the flash with the listed files (every target)
  erase       erase the given blocks, numbered as the erase list shows them
              (from 1): e.g. 3,5-7, or all
  read        save each target's flash (reserved tail included) as Intel HEX
              (.hex), S-records (.srec, .s19, .s28, .s37, .mot) or binary
              (.bin), with its CRC-32; {slot} in OUTPUT gives one file per
              target (its slot, else its number)
  blank-check whether each target's flash (or the given BLOCKS) is erased
  records     the records of earlier runs, one per target and attempt: a
              table, or --csv, or --json; --since TIME (UTC, e.g. 2026-12-08
              or 2026-12-08T10:00) and --serial N select
  sequence    create the serial number sequence NAME, starting at FIRST
  slots       print a slot map of the emulators attached now (slot 1, 2, ...
              in port order); --save FILE keeps it for --slots
  udev-rule   print a udev rule for the configured emulator USB IDs

FILE OPTIONS (apply to the FILE before them; addresses as in the window,
hexadecimal with optional 0x, trailing H and SEG: prefix):
  --start ADDR            start address on file (default 0)
  --offset OFF            flash memory offset, + or - (default 0)
  --end memory|file|ADDR  end address on memory, by file content, or an
                          arbitrary address (default memory)

OPTIONS:
  --target NAME           target description to plug (required but for list)
  --emulators N|all       emulators the run expects (default 2): 1 or 2
                          connect the first two, as the window; 3 to 32 or
                          all connect every attached emulator (up to 32)
  --fill BYTE             fill byte outside the files (default FFH)
  --fill-flash            keep the flash content outside the files
  --no-erase              do not erase blocks before writing
  --not-fill              do not fill the area outside the files
  --no-add-words          do not add the 2 words of 0FFFFH after files
  --security-id WORDS     unlock read-protected chips: up to 12 words of 1-4
                          hex digits, separated by blanks, ',' or ':'
  --initialize            erase read-protected chips instead of unlocking
  --serial ADDR:FIRST[:SIZE]
                          target n gets the number FIRST + n - 1, big-endian
                          in SIZE bytes (default 4) at ADDR; verify expects
                          each target's own number there
  --serial ADDR:@NAME[:SIZE]
                          write: each target gets the next number of the
                          sequence NAME; the number of a target that fails
                          is spoiled and never handed out again
  --slots FILE            the fixture's slot map: the targets are its slots'
                          emulators in slot order; a slot without its
                          emulator ends the run with 3 before anything is
                          written
  --retry N               plug and run again only the targets that failed,
                          up to N more times (0 to 9); each attempt is
                          recorded, and a target's result is its last attempt
  --records URL           the record store: postgresql://USER@HOST/DB,
                          sqlite:PATH or a PATH; default RecordsUrl in the
                          settings, else $XDG_DATA_HOME/Zentor/QUARNEL/
                          records.sqlite. Every write, verify, erase, read and
                          blank-check adds one record per target; a record
                          that cannot be stored fails the run
  --json FILE             write the result of the run as JSON
  --log FILE              write the log lines to FILE (also on standard
                          output unless --quiet)
  --quiet                 no log lines and no progress on the terminal
  --yes                   answer yes to the questions the window would ask
                          (writing without erase, additional data in another
                          block, erasing); without it such a run stops before
                          touching any chip
  --help                  this text

Exit codes:
  0  every target passed
  1  the operation ran and at least one target failed (or verify found
     differences, or blank-check a programmed byte), or the run's records
     could not be stored
  2  bad usage or bad input (a file that does not check, an address that does
     not parse, an unknown target name), or a question declined; nothing
     touched
  3  no emulator, the KORVO access lock not obtained within 3000 ms, a
     plug that failed (wrong chip, old firmware, still protected), a slot
     without its emulator, or a record store that cannot be opened
)";
}

}  // namespace quarnel::cli
