#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/FileList.h"

namespace quarnel::cli {

enum class Command { None, Help, List, Write, Verify, Erase, Read, BlankCheck, Records, Sequence, Slots, UdevRule };

// One FILE with the FILE OPTIONS after it: one row of the file list.
struct FileArgument {
  FileEntrySettings settings;
};

// --serial ADDR:FIRST[:SIZE]: target n gets FIRST + n - 1; --serial
// ADDR:@NAME[:SIZE]: each target gets the next number of the sequence NAME.
// Big-endian in SIZE bytes, at flash address ADDR.
struct SerialOption {
  uint32_t address = 0;
  uint64_t first = 0;
  std::string sequence;  // empty: the fixed form
  uint32_t size = 4;

  // The numbers of targets 1 to `targets` in the fixed form; none when one
  // of them does not fit in SIZE bytes.
  std::optional<std::vector<uint64_t>> FixedNumbers(uint32_t targets) const;
};

// `number` big-endian in `size` bytes; empty when it does not fit.
std::vector<uint8_t> SerialBytes(uint64_t number, uint32_t size);

// quarnel-cli records: which records, and how they are printed.
struct RecordsOptions {
  std::optional<std::string> since;
  std::optional<uint64_t> serialNumber;
  bool csv = false;
  bool json = false;
};

struct Options {
  Command command = Command::None;
  std::string target;
  // How many emulators the run expects. 1 or 2 connect as the window does
  // (the first two); more, or all, connect every emulator, up to 32.
  uint32_t emulators = 2;
  bool allEmulators = false;
  std::string fillText = "FFH";
  bool fillFromFlash = false;
  bool eraseBeforeWrite = true;
  bool notFill = false;
  bool addTwoWords = true;
  std::optional<std::string> securityId;
  bool initialize = false;
  std::optional<SerialOption> serial;
  std::string jsonPath;
  std::string logPath;
  bool quiet = false;
  bool yes = false;
  std::vector<FileArgument> files;
  std::string blocks;  // erase and blank-check: "3,5-7" or "all"
  std::string output;  // read: the file name, with {slot} for one file per target
  std::string slotsPath;       // --slots FILE
  std::string saveSlotsPath;   // slots --save FILE
  uint32_t retries = 0;        // --retry N
  std::string recordsUrl;      // --records URL; empty: the settings, else SQLite
  RecordsOptions records;      // the records command
  std::string sequenceName;    // the sequence command
  uint64_t sequenceFirst = 0;
};

// The command's word on the command line ("blank-check"); empty for none.
std::string CommandName(Command command);

// Whether the command works on plugged targets (and so adds records).
bool OperatesOnTargets(Command command);

struct ParsedCommandLine {
  std::optional<Options> options;  // empty on bad usage
  std::string error;               // why, for standard error
  bool noCommand = false;          // the error is that no command was given
};

// Parses the arguments after the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// Erase block numbers as the erase list shows them (from 1): "3,5-7" or
// "all", turned into 0-based indices in ascending order without repeats.
// Empty when the text does not parse or names a block beyond blockCount.
std::optional<std::vector<uint32_t>> ParseBlockList(std::string_view text, uint32_t blockCount);

// Security ID words as the security dialog takes them: up to twelve groups
// of at most four hexadecimal digits, separated by blanks, "," or ":".
std::optional<std::vector<uint16_t>> ParseSecurityWords(std::string_view text);

// The --help text.
std::string UsageText();

}  // namespace quarnel::cli
