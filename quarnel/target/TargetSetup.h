#pragma once

#include <cstdint>
#include <string>

#include "target/EraseBlocks.h"
#include "target/TargetGeometry.h"
#include "vestra.h"

namespace quarnel {

enum class ApplyOutcome {
  NoFlashAreas,          // only flash low and high became 0
  Applied,
  UnsupportedBlockSize,  // applied, but the code block size exceeds 64 KiB (text::kUnsupportedTarget)
};

// What applying a target description changes in the window.
struct AppliedTarget {
  TargetGeometry geometry;
  EraseBlockTable eraseBlocks;
  std::string endAddressText;  // "%lXH" of the highest flash address
};

// Applies the selected description. Without flash areas only flash low and
// high become 0 and the rest keeps the previous target's values.
ApplyOutcome ApplyTarget(const CTargetInfo& description, AppliedTarget& target);

// Bytes of the write image and of the read-back image: the code block size
// times (highest flash address / code block size + 1).
uint64_t WriteImageSize(const TargetGeometry& geometry);
// Bytes that reading all flash delivers: every area plus the reserved tail.
uint64_t FlashContentSize(const TargetGeometry& geometry);

// The chip name shown when the chip on the board is another type, from the
// first 32-bit word of its product ID, e.g. 0x01004560 gives "KT51456.".
std::string ChipNameFromProductId(uint32_t productIdWord);
// A description's targetName, which fills its array without a terminator
// when it is that long.
std::string TargetNameOf(const CTargetInfo& description);
// An address as the lists show it: "%05XH".
std::string HexAddressText(uint32_t address);

// value scaled by 2 to the power of `code` read as a two's complement number
// of `bits` bits (the library decodes its target descriptions the same way).
uint32_t ScaleByCodedPowerOfTwo(uint32_t value, uint8_t code, int bits);

}  // namespace quarnel
