#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "objfile/ObjectFileScanner.h"
#include "target/TargetGeometry.h"

namespace quarnel {

// The first flash address inside [blockStart, blockEnd]: the block start when
// it lies in an area, else the start of the first area, in table order, that
// begins inside the block; the block start when there is none.
uint32_t FirstFlashAddressInBlock(const TargetGeometry& geometry, uint32_t blockStart, uint32_t blockEnd);

// Places flash bytes, in the order the library delivers them, at their
// addresses in an image. Within each erase block the areas follow in table
// order; an area that ends contentTailSize bytes below the end of the last
// code block runs on to the block end. Bytes whose address lies beyond the
// image are consumed but not stored.
class FlashSpreader {
 public:
  explicit FlashSpreader(const TargetGeometry& geometry) : geometry_(geometry) {}

  // The bytes that reading the erase block holding `address` delivers.
  void SpreadBlock(uint32_t address, std::span<const uint8_t> bytes, std::span<uint8_t> image) const;

 private:
  // Spreads into one block; returns the number of bytes it took.
  size_t SpreadIntoBlock(uint64_t blockIndex, std::span<const uint8_t> bytes, std::span<uint8_t> image) const;
  uint32_t AreaEndInBlock(const FlashArea& area, uint64_t blockIndex, uint32_t blockStart, uint32_t blockEnd) const;

  const TargetGeometry& geometry_;
};

// The write image, the read-back image and the flash content buffer of the
// selected target. Rebuilt whenever a target is applied; whoever views a
// buffer takes its span again after a rebuild.
class FlashBuffers {
 public:
  // The geometry must outlive the buffers; it is read again at each rebuild.
  explicit FlashBuffers(const TargetGeometry& geometry) : geometry_(geometry), spreader_(geometry) {}

  // Sizes: the image size of the geometry for both images, every area plus
  // the content tail for the flash content. All bytes start as 0xFF.
  void Rebuild();
  // Rebuilds and points the scanner's load scans at the new write image.
  void Rebuild(ObjectFileScanner& scanner);

  std::span<uint8_t> WriteImage() { return writeImage_; }
  std::span<uint8_t> ReadBackImage() { return readBackImage_; }
  std::span<uint8_t> FlashContent() { return flashContent_; }
  const TargetGeometry& Geometry() const { return geometry_; }
  const FlashSpreader& Spreader() const { return spreader_; }

 private:
  const TargetGeometry& geometry_;
  FlashSpreader spreader_;
  std::vector<uint8_t> writeImage_;
  std::vector<uint8_t> readBackImage_;
  std::vector<uint8_t> flashContent_;
};

}  // namespace quarnel
