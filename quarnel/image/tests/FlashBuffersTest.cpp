#include "image/FlashBuffers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/RecordText.h"
#include "testing/RecordingUser.h"

namespace quarnel {
namespace {

// 1 KiB blocks, 4 code blocks, a 256-byte tail read after the area that
// ends below it; the areas are listed out of address order.
TargetGeometry OutOfOrderGeometry() {
  TargetGeometry geometry;
  geometry.SetFlashAreas({{0x0800, 0x0EFF}, {0x0000, 0x01FF}, {0x0300, 0x05FF}});
  geometry.eraseBlockSize = 0x400;
  geometry.codeBlockCount = 4;
  geometry.codeBlockSize = 0x400;
  geometry.contentTailSize = 0x100;
  return geometry;
}

TEST(FlashBuffersTest, ContentIsSpreadBlockByBlockWithAreasInTableOrderAndTheTailAfterItsArea) {
  const TargetGeometry geometry = OutOfOrderGeometry();
  FlashBuffers buffers(geometry);
  buffers.Rebuild();
  ASSERT_EQ(buffers.FlashContent().size(), 0x200u + 0x300 + 0x700 + 0x100);
  ASSERT_EQ(buffers.WriteImage().size(), 0x1000u);
  std::span<uint8_t> content = buffers.FlashContent();
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i % 251);

  // The order block reads deliver: block 0 gives 0-1FF then 300-3FF,
  // block 1 gives 400-5FF, block 2 gives 800-BFF, block 3 gives C00-EFF and
  // the tail F00-FFF.
  std::vector<std::pair<uint32_t, uint32_t>> order{{0x000, 0x1FF}, {0x300, 0x3FF}, {0x400, 0x5FF},
                                                   {0x800, 0xBFF}, {0xC00, 0xEFF}, {0xF00, 0xFFF}};
  std::vector<uint8_t> expected(0x1000, 0xFF);
  size_t used = 0;
  for (auto [first, last] : order)
    for (uint32_t a = first; a <= last; ++a) expected[a] = content[used++];
  ASSERT_EQ(used, content.size());

  const size_t blockBytes[] = {0x300, 0x200, 0x400, 0x400};
  used = 0;
  for (uint32_t block = 0; block < 4; ++block) {
    buffers.Spreader().SpreadBlock(block * 0x400 + 0x10, content.subspan(used, blockBytes[block]), buffers.WriteImage());
    used += blockBytes[block];
  }
  EXPECT_TRUE(std::ranges::equal(buffers.WriteImage(), expected));
}

TEST(FlashBuffersTest, ARebuildRepointsTheScannerAtTheNewImage) {
  TargetGeometry geometry = OutOfOrderGeometry();
  testing::RecordingUser user;
  ObjectFileScanner scanner(geometry, user);
  FlashBuffers buffers(geometry);
  buffers.Rebuild(scanner);
  geometry.SetFlashAreas({{0x0000, 0x3FFF}});
  buffers.Rebuild(scanner);
  ASSERT_EQ(buffers.WriteImage().size(), 0x4000u);
  ObjectFileData file(testing::IntelRecord(0, 0, {0x40, 0x41}) + "\n:00000001FF\n");
  scanner.SetCurrentFile("f", 0x3000);
  uint32_t lowest = 0;
  uint32_t highest = 0;
  ASSERT_TRUE(scanner.LoadObjectFile(file, 0, 0xFFFF, true, lowest, highest));
  EXPECT_EQ(buffers.WriteImage()[0x3000], 0x40);
}

}  // namespace
}  // namespace quarnel
