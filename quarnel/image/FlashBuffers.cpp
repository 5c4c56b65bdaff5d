#include "image/FlashBuffers.h"

#include <algorithm>
#include <cstring>

#include "target/TargetSetup.h"

namespace quarnel {

uint32_t FirstFlashAddressInBlock(const TargetGeometry& geometry, uint32_t blockStart, uint32_t blockEnd) {
  const auto& areas = geometry.areas;
  if (std::any_of(areas.begin(), areas.end(),
                  [blockStart](const FlashArea& a) { return a.start <= blockStart && blockStart <= a.end; })) {
    return blockStart;
  }
  auto inside = std::find_if(areas.begin(), areas.end(),
                             [&](const FlashArea& a) { return a.start > blockStart && a.start <= blockEnd; });
  return inside != areas.end() ? inside->start : blockStart;
}

uint32_t FlashSpreader::AreaEndInBlock(const FlashArea& area, uint64_t blockIndex, uint32_t blockStart,
                                       uint32_t blockEnd) const {
  // The library counts the last code block as block K - 1 in eight bits, so
  // a count of 0 names block 255.
  const auto lastCodeBlock = static_cast<uint8_t>(geometry_.codeBlockCount - 1);
  const bool endsAtTail = blockIndex == lastCodeBlock && area.end >= blockStart &&
                          area.end == blockEnd - geometry_.contentTailSize;
  return endsAtTail ? blockEnd : area.end;
}

size_t FlashSpreader::SpreadIntoBlock(uint64_t blockIndex, std::span<const uint8_t> bytes,
                                      std::span<uint8_t> image) const {
  const uint64_t blockSize = geometry_.eraseBlockSize;
  const auto blockStart = static_cast<uint32_t>(blockIndex * blockSize);
  const auto blockEnd = static_cast<uint32_t>(blockStart + blockSize - 1);
  size_t used = 0;
  for (const FlashArea& area : geometry_.areas) {
    const uint32_t from = std::max(area.start, blockStart);
    const uint32_t to = std::min(AreaEndInBlock(area, blockIndex, blockStart, blockEnd), blockEnd);
    if (from > to) continue;
    // A block never yields more than its size, even for overlapping areas.
    const size_t count = std::min<size_t>({uint64_t{to} - from + 1, blockSize - used, bytes.size() - used});
    if (from < image.size()) {
      const size_t stored = std::min<size_t>(count, image.size() - from);
      std::memcpy(image.data() + from, bytes.data() + used, stored);
    }
    used += count;
    if (used == bytes.size()) break;
  }
  return used;
}

void FlashSpreader::SpreadBlock(uint32_t address, std::span<const uint8_t> bytes, std::span<uint8_t> image) const {
  if (geometry_.eraseBlockSize == 0) return;
  SpreadIntoBlock(address / geometry_.eraseBlockSize, bytes, image);
}

void FlashBuffers::Rebuild() {
  const auto imageSize = static_cast<size_t>(WriteImageSize(geometry_));
  writeImage_.assign(imageSize, 0xFF);
  readBackImage_.assign(imageSize, 0xFF);
  flashContent_.assign(static_cast<size_t>(FlashContentSize(geometry_)), 0xFF);
}

void FlashBuffers::Rebuild(ObjectFileScanner& scanner) {
  Rebuild();
  scanner.SetWriteImage(writeImage_);
}

}  // namespace quarnel
