#pragma once

#include <cstdint>

#include "target/TargetGeometry.h"

namespace quarnel {

// Flash addresses [first, last]; empty when first > last.
struct AddressRange {
  uint32_t first = 1;
  uint32_t last = 0;
  bool Empty() const { return first > last; }
  bool Overlaps(uint32_t otherFirst, uint32_t otherLast) const {
    return !Empty() && first <= otherLast && otherFirst <= last;
  }
};
// The preserved area of the last code block: P bytes ending T bytes below
// the end of erase block K - 1.
AddressRange PreservedArea(const TargetGeometry& geometry);
// The preserved area and the reserved tail together: the top T + P bytes of
// the last code block, which a write or an erase keeps as each target had them.
AddressRange KeptTopOfCode(const TargetGeometry& geometry);
// K x B: one past the end of the last code block counted in erase blocks.
uint64_t CodeEndInEraseBlocks(const TargetGeometry& geometry);

}  // namespace quarnel
