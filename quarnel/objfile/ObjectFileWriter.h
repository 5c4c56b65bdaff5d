#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "target/TargetGeometry.h"

namespace quarnel {

// A run of consecutive addresses and their bytes.
struct ImageSegment {
  uint32_t address = 0;
  std::span<const uint8_t> bytes;
};

// The highest address that the flash test (TargetGeometry::IsFlash) can
// accept: the top of the areas or of the code area's reserved tail.
uint32_t FlashTop(const TargetGeometry& geometry);

// The runs of `image` (indexed by address) whose addresses pass the flash
// test, in ascending order.
std::vector<ImageSegment> FlashSegments(const TargetGeometry& geometry, std::span<const uint8_t> image);

// CRC-32 of the segments' bytes in address order.
uint32_t SegmentsCrc32(const std::vector<ImageSegment>& segments);

enum class ObjectFileFormat { IntelHex, SRecords, Binary };

// By the extension of `path`: .hex/.ihex/.ihx, .srec/.s19/.s28/.s37/.mot,
// .bin; false for any other.
bool FormatForPath(std::string_view path, ObjectFileFormat& format);

// The segments as object file text: Intel HEX with 16 data bytes a record
// and extended linear address records; S-records with an S0 header, S1,
// S2 or S3 records by the highest address, and the matching end record.
// Binary: the bytes from the first segment's address to the last one's end,
// gaps as FFH.
std::string ObjectFileText(ObjectFileFormat format, const std::vector<ImageSegment>& segments);

}  // namespace quarnel
