#include "target/TargetGeometry.h"

#include <algorithm>

namespace quarnel {

void TargetGeometry::SetFlashAreas(std::vector<FlashArea> newAreas) {
  areas = std::move(newAreas);
  flashLow = 0;
  flashHigh = 0;
  if (areas.empty()) return;
  flashLow = areas.front().start;
  flashHigh = areas.front().end;
  for (const FlashArea& area : areas) {
    flashLow = std::min(flashLow, area.start);
    flashHigh = std::max(flashHigh, area.end);
  }
}

uint32_t TargetGeometry::CodeAreaSize() const { return uint32_t{codeBlockCount} * codeBlockSize; }

bool TargetGeometry::InReservedTail(uint32_t address) const {
  uint32_t codeSize = CodeAreaSize();
  if (codeBlockCount == 0 || reservedTailSize == 0 || codeSize == 0) return false;
  uint32_t tailStart = codeSize > reservedTailSize ? codeSize - reservedTailSize : 0;
  return address >= tailStart && address <= codeSize - 1;
}

bool TargetGeometry::IsFlash(uint32_t address) const {
  return InReservedTail(address) ||
         std::any_of(areas.begin(), areas.end(),
                     [address](const FlashArea& area) { return address >= area.start && address <= area.end; });
}

bool TargetGeometry::AnyAreaIntersects(uint32_t first, uint32_t last) const {
  return std::any_of(areas.begin(), areas.end(),
                     [first, last](const FlashArea& area) { return area.start <= last && area.end >= first; });
}

uint32_t TargetGeometry::OccupancyTop() const {
  uint32_t codeTop = codeBlockCount == 0 || CodeAreaSize() == 0 ? 0 : CodeAreaSize() - 1;
  return std::max(flashHigh, codeTop);
}

}  // namespace quarnel
