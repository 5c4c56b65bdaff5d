#include "objfile/ObjectFileWriter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/Crc32.h"

namespace quarnel {
namespace {

constexpr size_t kBytesPerRecord = 16;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

void AppendHexByte(std::string& text, uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text += kDigits[byte >> 4];
  text += kDigits[byte & 0xF];
}

// One record of either format: prefix, then the fields as hex bytes, then
// the checksum that `checksum` derives from their sum.
void AppendRecord(std::string& text, std::string_view prefix, const std::vector<uint8_t>& fields,
                  uint8_t (*checksum)(unsigned sum)) {
  text += prefix;
  unsigned sum = 0;
  for (uint8_t byte : fields) {
    AppendHexByte(text, byte);
    sum += byte;
  }
  AppendHexByte(text, checksum(sum));
  text += '\n';
}

uint8_t IntelChecksum(unsigned sum) { return static_cast<uint8_t>(-sum); }
uint8_t SRecordChecksum(unsigned sum) { return static_cast<uint8_t>(~sum); }

void AppendBigEndian(std::vector<uint8_t>& bytes, uint32_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

std::string IntelHexText(const std::vector<ImageSegment>& segments) {
  std::string text;
  uint32_t upper = 0;
  for (const ImageSegment& segment : segments) {
    for (size_t k = 0; k < segment.bytes.size();) {
      const uint32_t address = segment.address + static_cast<uint32_t>(k);
      if (address >> 16 != upper) {
        upper = address >> 16;
        AppendRecord(text, ":", {2, 0, 0, 4, static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)},
                     IntelChecksum);
      }
      // A record stays within its 64 KiB page.
      const size_t count = std::min({kBytesPerRecord, segment.bytes.size() - k, size_t{0x10000} - (address & 0xFFFF)});
      std::vector<uint8_t> fields{static_cast<uint8_t>(count), static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address), 0};
      fields.insert(fields.end(), segment.bytes.begin() + k, segment.bytes.begin() + k + count);
      AppendRecord(text, ":", fields, IntelChecksum);
      k += count;
    }
  }
  AppendRecord(text, ":", {0, 0, 0, 1}, IntelChecksum);
  return text;
}

std::string SRecordText(const std::vector<ImageSegment>& segments) {
  uint64_t top = 0;
  for (const ImageSegment& segment : segments)
    if (!segment.bytes.empty()) top = std::max<uint64_t>(top, segment.address + segment.bytes.size() - 1);
  const int width = top <= 0xFFFF ? 2 : top <= 0xFFFFFF ? 3 : 4;
  const std::string data = "S" + std::to_string(width - 1);
  const std::string end = "S" + std::to_string(11 - width);
  std::string text;
  AppendRecord(text, "S0", {3, 0, 0}, SRecordChecksum);
  for (const ImageSegment& segment : segments) {
    for (size_t k = 0; k < segment.bytes.size(); k += kBytesPerRecord) {
      const size_t count = std::min(kBytesPerRecord, segment.bytes.size() - k);
      std::vector<uint8_t> fields{static_cast<uint8_t>(count + width + 1)};
      AppendBigEndian(fields, segment.address + static_cast<uint32_t>(k), width);
      fields.insert(fields.end(), segment.bytes.begin() + k, segment.bytes.begin() + k + count);
      AppendRecord(text, data, fields, SRecordChecksum);
    }
  }
  std::vector<uint8_t> fields{static_cast<uint8_t>(width + 1)};
  AppendBigEndian(fields, 0, width);
  AppendRecord(text, end, fields, SRecordChecksum);
  return text;
}

std::string BinaryText(const std::vector<ImageSegment>& segments) {
  if (segments.empty()) return {};
  const uint32_t base = segments.front().address;
  const ImageSegment& last = segments.back();
  std::string bytes(size_t{last.address} - base + last.bytes.size(), '\xFF');
  for (const ImageSegment& segment : segments)
    std::copy(segment.bytes.begin(), segment.bytes.end(), bytes.begin() + (segment.address - base));
  return bytes;
}

}  // namespace

uint32_t FlashTop(const TargetGeometry& geometry) {
  uint32_t top = geometry.flashHigh;
  if (geometry.reservedTailSize != 0 && geometry.CodeAreaSize() != 0)
    top = std::max(top, geometry.CodeAreaSize() - 1);
  return top;
}

std::vector<ImageSegment> FlashSegments(const TargetGeometry& geometry, std::span<const uint8_t> image) {
  std::vector<ImageSegment> segments;
  if (image.empty() || (geometry.areas.empty() && geometry.reservedTailSize == 0)) return segments;
  const uint64_t top = std::min<uint64_t>(FlashTop(geometry), image.size() - 1);
  for (uint64_t address = geometry.flashLow; address <= top;) {
    if (!geometry.IsFlash(static_cast<uint32_t>(address))) {
      ++address;
      continue;
    }
    const uint64_t first = address;
    while (address <= top && geometry.IsFlash(static_cast<uint32_t>(address))) ++address;
    segments.push_back({static_cast<uint32_t>(first), image.subspan(first, address - first)});
  }
  return segments;
}

uint32_t SegmentsCrc32(const std::vector<ImageSegment>& segments) {
  Crc32 crc;
  for (const ImageSegment& segment : segments) crc.Add(segment.bytes);
  return crc.Value();
}

bool FormatForPath(std::string_view path, ObjectFileFormat& format) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return false;
  const std::string extension = Lower(path.substr(dot + 1));
  if (extension == "hex" || extension == "ihex" || extension == "ihx") {
    format = ObjectFileFormat::IntelHex;
  } else if (extension == "srec" || extension == "s19" || extension == "s28" || extension == "s37" ||
             extension == "mot") {
    format = ObjectFileFormat::SRecords;
  } else if (extension == "bin") {
    format = ObjectFileFormat::Binary;
  } else {
    return false;
  }
  return true;
}

std::string ObjectFileText(ObjectFileFormat format, const std::vector<ImageSegment>& segments) {
  switch (format) {
    case ObjectFileFormat::IntelHex:
      return IntelHexText(segments);
    case ObjectFileFormat::SRecords:
      return SRecordText(segments);
    case ObjectFileFormat::Binary:
      break;
  }
  return BinaryText(segments);
}

}  // namespace quarnel
