#pragma once

#include <cstdint>
#include <vector>

namespace quarnel {

// One flash block of the selected target, from address 0 up to the block
// that holds the highest flash address. Rebuilt whenever a target is applied.
struct EraseBlock {
  uint32_t start = 0;
  uint32_t end = 0;
  int32_t selected = 0;   // ticked for erasing
  int32_t available = 0;  // overlaps at least one flash area
};

using EraseBlockTable = std::vector<EraseBlock>;

}  // namespace quarnel
