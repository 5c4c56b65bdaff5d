#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "objfile/ObjectFileWriter.h"
#include "target/TargetSetup.h"

namespace quarnel::cli {

// What reading one target back came to (read, blank-check): its verdict,
// the CRC-32 of its flash, the file it went to, and the log's words for it.
struct ReadBack {
  bool passed = false;
  std::optional<uint32_t> crc32;
  std::string outputFile;
  std::string line;
};

// Where read puts a target's flash: the name with every "{slot}" replaced.
inline constexpr std::string_view kSlotPlaceholder = "{slot}";
std::string ReadBackFileName(std::string pattern, int slot);

// Saves the flash of `image` (indexed by address) in `format` as `path`.
ReadBack SaveReadBack(const AppliedTarget& target, std::span<const uint8_t> image, ObjectFileFormat format,
                      const std::string& path);
// Whether the flash of `image` (only the selected erase blocks, when any
// is selected) reads all FFH.
ReadBack CheckBlank(const AppliedTarget& target, std::span<const uint8_t> image);

// Writes `bytes` to `path` completely or not at all: empty, or why not.
std::string SaveFile(const std::string& path, const std::string& bytes);

}  // namespace quarnel::cli
