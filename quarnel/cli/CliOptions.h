#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/FileList.h"

namespace quarnel::cli {

enum class Command { None, Help, List, Write, Verify, Erase, UdevRule };

// One FILE with the FILE OPTIONS after it: one row of the file list.
struct FileArgument {
  FileEntrySettings settings;
};

// --serial ADDR:FIRST[:SIZE]: target n gets FIRST + n - 1, big-endian in
// SIZE bytes, at flash address ADDR.
struct SerialOption {
  uint32_t address = 0;
  uint64_t first = 0;
  uint32_t size = 4;

  // The bytes of target n's number.
  std::vector<uint8_t> BytesFor(uint32_t targetNumber) const;
  // Whether the numbers of targets 1 to `targets` all fit in SIZE bytes.
  bool Fits(uint32_t targets) const;
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
  std::string blocks;  // erase: "3,5-7" or "all"
};

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
