#include "target/TargetSetup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quarnel {
namespace {

constexpr uint32_t kCodeBlockUnit = 2048;
constexpr uint16_t kBasicReservedSize = 512;
constexpr uint32_t kLargestCodeBlock = 0x10000;

uint32_t Bits(uint32_t value, int first, int count) { return (value >> first) & ((1u << count) - 1); }

uint16_t ReservedSizeFromCode(uint32_t code) {
  return code == 3 ? 0 : static_cast<uint16_t>(ScaleByCodedPowerOfTwo(kBasicReservedSize, code, 3));
}

std::string HexWithSuffix(const char* format, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
  return text;
}

// Fills the code block fields of the geometry; false when the block size is
// larger than the program supports.
bool SetCodeBlocks(const CTargetInfo& description, TargetGeometry& geometry) {
  const uint32_t id32 = description.targetId32;
  const uint32_t id64 = description.targetId64;
  const uint32_t sizeCode = Bits(id32, 16, 4);
  if (Bits(description.targetId00, 30, 1) == 0) {
    // Size code 0 would make a code block of 0 bytes; the description's own
    // block size stands for it then, as the library reads such a file.
    geometry.codeBlockSize = sizeCode != 0 ? sizeCode * kCodeBlockUnit : description.blockSize;
    geometry.codeBlockCount = static_cast<uint8_t>(Bits(id32, 8, 4));
    geometry.preservedSize = kBasicReservedSize;
    geometry.reservedTailSize = kBasicReservedSize;
    return true;
  }
  geometry.codeBlockSize = ScaleByCodedPowerOfTwo(kCodeBlockUnit, static_cast<uint8_t>(sizeCode), 4);
  geometry.codeBlockCount = static_cast<uint8_t>(Bits(id32, 8, 4) | (Bits(id64, 4, 4) << 4));
  geometry.preservedSize = ReservedSizeFromCode(Bits(id64, 10, 3));
  geometry.reservedTailSize = ReservedSizeFromCode(Bits(id64, 13, 3));
  return geometry.codeBlockSize <= kLargestCodeBlock;
}

EraseBlockTable BuildEraseBlocks(const TargetGeometry& geometry) {
  EraseBlockTable blocks;
  const uint32_t size = geometry.eraseBlockSize;
  if (size == 0) return blocks;
  const uint64_t count = uint64_t{geometry.flashHigh} / size + 1;
  blocks.reserve(count);
  for (uint64_t k = 0; k < count; ++k) {
    EraseBlock block;
    block.start = static_cast<uint32_t>(k * size);
    block.end = block.start + size - 1;
    block.available = geometry.AnyAreaIntersects(block.start, block.end) ? 1 : 0;
    blocks.push_back(block);
  }
  return blocks;
}

}  // namespace

uint32_t ScaleByCodedPowerOfTwo(uint32_t value, uint8_t code, int bits) {
  const int raw = code & ((1 << bits) - 1);
  const int exponent = raw >= (1 << (bits - 1)) ? raw - (1 << bits) : raw;
  return exponent >= 0 ? value << exponent : value >> -exponent;
}

ApplyOutcome ApplyTarget(const CTargetInfo& description, AppliedTarget& target) {
  TargetGeometry& geometry = target.geometry;
  const uint32_t areaCount = std::min<uint32_t>(description.areaNum, VESTRA_MAX_AREAS);
  if (areaCount == 0) {
    geometry.flashLow = 0;
    geometry.flashHigh = 0;
    return ApplyOutcome::NoFlashAreas;
  }
  std::vector<FlashArea> areas;
  for (uint32_t i = 0; i < areaCount; ++i)
    areas.push_back({description.area[i].startAdrs, description.area[i].endAdrs});
  geometry.SetFlashAreas(std::move(areas));
  geometry.eraseBlockSize = description.blockSize;
  geometry.contentTailSize = description.reservedSize2;
  target.eraseBlocks = BuildEraseBlocks(geometry);
  target.endAddressText = HexWithSuffix("%XH", geometry.flashHigh);
  return SetCodeBlocks(description, geometry) ? ApplyOutcome::Applied : ApplyOutcome::UnsupportedBlockSize;
}

uint64_t WriteImageSize(const TargetGeometry& geometry) {
  const uint64_t unit = geometry.codeBlockSize;
  if (unit == 0) return uint64_t{geometry.flashHigh} + 1;
  return unit * (geometry.flashHigh / unit + 1);
}

uint64_t FlashContentSize(const TargetGeometry& geometry) {
  uint64_t total = geometry.contentTailSize;
  for (const FlashArea& area : geometry.areas) total += uint64_t{area.end} - area.start + 1;
  return total;
}

std::string ChipNameFromProductId(uint32_t word) {
  static constexpr const char* kModelPrefixes[] = {"KT430", "KT51", "KT3", "KT4", "KT2", "KT435", "KT431", "KT440"};
  const uint32_t model = word >> 24;
  std::string name = model < std::size(kModelPrefixes) ? kModelPrefixes[model] : "KT430";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift : {12, 8, 4}) name += kDigits[Bits(word, shift, 4)];
  if (Bits(word, 0, 4) != 0) name += kDigits[Bits(word, 0, 4)];
  return name + ".";
}

std::string TargetNameOf(const CTargetInfo& description) {
  return {description.targetName, strnlen(description.targetName, sizeof description.targetName)};
}

std::string HexAddressText(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%05XH", static_cast<unsigned>(address));
  return text;
}

}  // namespace quarnel
