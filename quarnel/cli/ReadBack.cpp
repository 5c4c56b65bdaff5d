#include "cli/ReadBack.h"

#include "base/Crc32.h"

#include <QSaveFile>
#include <algorithm>

namespace quarnel::cli {
namespace {

bool InSelectedBlock(const EraseBlockTable& blocks, uint32_t address) {
  return std::any_of(blocks.begin(), blocks.end(),
                     [address](const EraseBlock& b) { return b.selected && address >= b.start && address <= b.end; });
}

}  // namespace

std::string ReadBackFileName(std::string pattern, int slot) {
  const std::string number = std::to_string(slot);
  for (size_t at = pattern.find(kSlotPlaceholder); at != std::string::npos; at = pattern.find(kSlotPlaceholder, at))
    pattern.replace(at, kSlotPlaceholder.size(), number);
  return pattern;
}

ReadBack SaveReadBack(const AppliedTarget& target, std::span<const uint8_t> image, ObjectFileFormat format,
                      const std::string& path) {
  const std::vector<ImageSegment> segments = FlashSegments(target.geometry, image);
  ReadBack result;
  result.crc32 = SegmentsCrc32(segments);
  result.outputFile = path;
  if (const std::string why = SaveFile(path, ObjectFileText(format, segments)); !why.empty()) {
    result.line = "could not be saved as " + path + ": " + why;
    return result;
  }
  result.passed = true;
  result.line = "saved as " + path + ", CRC-32 " + Crc32Text(*result.crc32);
  return result;
}

ReadBack CheckBlank(const AppliedTarget& target, std::span<const uint8_t> image) {
  const EraseBlockTable& blocks = target.eraseBlocks;
  const bool someSelected = std::any_of(blocks.begin(), blocks.end(), [](const EraseBlock& b) { return b.selected; });
  const std::vector<ImageSegment> segments = FlashSegments(target.geometry, image);
  ReadBack result;
  result.crc32 = SegmentsCrc32(segments);
  for (const ImageSegment& segment : segments) {
    for (size_t k = 0; k < segment.bytes.size(); ++k) {
      const uint32_t address = segment.address + static_cast<uint32_t>(k);
      if (segment.bytes[k] == 0xFF || (someSelected && !InSelectedBlock(blocks, address))) continue;
      result.line = "not blank (first programmed byte at " + HexAddressText(address) + ")";
      return result;
    }
  }
  result.passed = true;
  result.line = "blank";
  return result;
}

std::string SaveFile(const std::string& path, const std::string& bytes) {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
  if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
    const std::string why = file.errorString().toStdString();
    file.cancelWriting();
    return why;
  }
  if (!file.commit()) return file.errorString().toStdString();
  return {};
}

}  // namespace quarnel::cli
