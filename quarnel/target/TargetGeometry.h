#pragma once

#include <cstdint>
#include <vector>

namespace quarnel {

struct FlashArea {
  uint32_t start = 0;
  uint32_t end = 0;  // inclusive
};

// The selected target's flash layout as the object file scans and the file
// list read it. Filled when a target is applied; all zero until then.
struct TargetGeometry {
  std::vector<FlashArea> areas;
  uint32_t flashLow = 0;
  uint32_t flashHigh = 0;
  uint8_t codeBlockCount = 0;
  uint32_t codeBlockSize = 0;
  uint16_t reservedTailSize = 0;
  uint16_t preservedSize = 0;
  // The description's own erase block size and reserved tail size: the
  // erase block table counts in the first, the flash content read from a
  // target carries the second after its areas.
  uint32_t eraseBlockSize = 0;
  uint32_t contentTailSize = 0;

  // Sets the areas and the lowest and highest flash address over them (both
  // 0 without areas).
  void SetFlashAreas(std::vector<FlashArea> newAreas);

  // Code block count times code block size; the code area is [0, size - 1].
  uint32_t CodeAreaSize() const;
  // The top reservedTailSize bytes of the code area; none without code blocks.
  bool InReservedTail(uint32_t address) const;
  // Inside a flash area or inside the reserved tail.
  bool IsFlash(uint32_t address) const;
  bool AnyAreaIntersects(uint32_t first, uint32_t last) const;
  // Highest index of the duplicate check's occupancy map.
  uint32_t OccupancyTop() const;
};

}  // namespace quarnel
