#include "objfile/ObjectFileWriter.h"

#include <gtest/gtest.h>

#include <string_view>

#include "base/Crc32.h"
#include "objfile/HexRecord.h"

namespace quarnel {
namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

TEST(Crc32, IsTheCommonCheckValueInAnyPieces) {
  const std::string_view text = "123456789";
  Crc32 whole;
  whole.Add({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  Crc32 pieces;
  pieces.Add({reinterpret_cast<const uint8_t*>(text.data()), 4});
  pieces.Add({reinterpret_cast<const uint8_t*>(text.data()) + 4, 5});
  EXPECT_EQ(whole.Value(), 0xCBF43926u);
  EXPECT_EQ(pieces.Value(), 0xCBF43926u);
  EXPECT_EQ(Crc32().Value(), 0u);
}

// Two areas with a gap, and a reserved tail above the areas' top: the
// segments follow the flash test, the tail included.
TEST(FlashSegments, FollowTheFlashTestTailIncluded) {
  TargetGeometry geometry;
  geometry.SetFlashAreas({{0x0000, 0x0FFF}, {0x2000, 0x3DFF}});
  geometry.codeBlockCount = 4;
  geometry.codeBlockSize = 0x1000;
  geometry.reservedTailSize = 0x200;
  std::vector<uint8_t> image(0x4000, 0xA5);
  const std::vector<ImageSegment> segments = FlashSegments(geometry, image);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].address, 0x0000u);
  EXPECT_EQ(segments[0].bytes.size(), 0x1000u);
  EXPECT_EQ(segments[1].address, 0x2000u);
  EXPECT_EQ(segments[1].bytes.size(), 0x2000u);  // 3E00H to 3FFFH is the tail
  EXPECT_EQ(FlashTop(geometry), 0x3FFFu);
}

TEST(ObjectFileText, EveryRecordChecksAndAddressesGrowAsNeeded) {
  std::vector<uint8_t> bytes(40);
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k * 5);
  struct Case {
    ObjectFileFormat format;
    uint32_t address;
    const char* firstData;  // the first data record's start
    const char* last;       // the end record
  };
  const Case cases[] = {
      {ObjectFileFormat::IntelHex, 0xFFF8, ":08FFF800", ":00000001FF"},
      {ObjectFileFormat::SRecords, 0x1000, "S113100000", "S9030000FC"},
      {ObjectFileFormat::SRecords, 0xFFF8, "S2140", "S804000000FB"},
      {ObjectFileFormat::SRecords, 0x1000000, "S31501000000", "S70500000000FA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstData);
    const std::string text = ObjectFileText(c.format, {{c.address, bytes}});
    const std::vector<std::string_view> lines = Lines(text);
    ASSERT_GE(lines.size(), 3u);
    for (std::string_view line : lines)
      EXPECT_TRUE(c.format == ObjectFileFormat::IntelHex ? IntelChecksumOk(line) : SRecordChecksumOk(line)) << line;
    EXPECT_EQ(lines.back(), c.last);
    EXPECT_NE(text.find(c.firstData), std::string::npos) << text;
  }
  // A record never crosses a 64 KiB page; the next page has its own base.
  const std::string hex = ObjectFileText(ObjectFileFormat::IntelHex, {{0xFFF8, bytes}});
  EXPECT_NE(hex.find(":020000040001F9\n:10000000"), std::string::npos) << hex;
}

TEST(ObjectFileText, BinaryRunsFromTheFirstSegmentWithGapsErased) {
  const std::vector<uint8_t> a{1, 2};
  const std::vector<uint8_t> b{3};
  EXPECT_EQ(ObjectFileText(ObjectFileFormat::Binary, {{0x10, a}, {0x14, b}}), std::string("\x01\x02\xFF\xFF\x03", 5));
}

TEST(ObjectFileFormat, ComesFromTheExtension) {
  const std::pair<const char*, std::optional<ObjectFileFormat>> cases[] = {
      {"a.hex", ObjectFileFormat::IntelHex}, {"b.IHX", ObjectFileFormat::IntelHex},
      {"c.s19", ObjectFileFormat::SRecords}, {"d.mot", ObjectFileFormat::SRecords},
      {"e.bin", ObjectFileFormat::Binary},   {"f.txt", std::nullopt},
      {"dir.hex/g", std::nullopt},           {"noext", std::nullopt},
  };
  for (const auto& [path, expected] : cases) {
    ObjectFileFormat format{};
    const bool known = FormatForPath(path, format);
    EXPECT_EQ(known, expected.has_value()) << path;
    if (known) {
      EXPECT_EQ(format, *expected) << path;
    }
  }
}

}  // namespace
}  // namespace quarnel
