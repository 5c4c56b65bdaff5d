#include "target/TargetSetup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace quarnel {
namespace {

std::unique_ptr<CTargetInfo> Description(std::initializer_list<CTargetArea> areas, uint32_t blockSize) {
  auto d = std::make_unique<CTargetInfo>();
  std::memset(d.get(), 0, sizeof(CTargetInfo));
  std::strcpy(d->targetName, "KT51456");
  for (const CTargetArea& area : areas) d->area[d->areaNum++] = area;
  d->blockSize = blockSize;
  d->reservedSize2 = 512;
  return d;
}

TEST(ApplyTarget, BuildsTheEraseBlockTableAndEndAddressText) {
  // Two areas with a hole from 0x8000 to 0xFFFF; flash high 0x1FFFF.
  auto d = Description({{0x0000, 0x7FFF}, {0x10000, 0x1FFFF}}, 0x800);
  d->targetId32 = 0x00010400;  // basic format: S = 1 x 2048, K = 4
  AppliedTarget target;
  EXPECT_EQ(ApplyTarget(*d, target), ApplyOutcome::Applied);
  ASSERT_EQ(target.eraseBlocks.size(), 64u);
  EXPECT_EQ(target.eraseBlocks.front().start, 0u);
  EXPECT_EQ(target.eraseBlocks.front().end, 0x7FFu);
  EXPECT_EQ(target.eraseBlocks.back().start, 0x1F800u);
  EXPECT_EQ(target.eraseBlocks.back().end, 0x1FFFFu);
  EXPECT_EQ(target.eraseBlocks[15].available, 1);  // 0x7800-0x7FFF
  EXPECT_EQ(target.eraseBlocks[16].available, 0);  // 0x8000-0x87FF lies in the hole
  EXPECT_EQ(target.eraseBlocks[31].available, 0);
  EXPECT_EQ(target.eraseBlocks[32].available, 1);
  for (const EraseBlock& block : target.eraseBlocks) EXPECT_EQ(block.selected, 0);
  EXPECT_EQ(target.endAddressText, "1FFFFH");
  EXPECT_EQ(target.geometry.flashLow, 0u);
  EXPECT_EQ(target.geometry.flashHigh, 0x1FFFFu);
  EXPECT_EQ(WriteImageSize(target.geometry), 0x20000u);
  EXPECT_EQ(FlashContentSize(target.geometry), 0x8000u + 0x10000u + 512u);
}

TEST(ApplyTarget, DescriptionWithoutAreasKeepsThePreviousTarget) {
  auto first = Description({{0, 0xFFFF}}, 0x400);
  AppliedTarget target;
  ApplyTarget(*first, target);
  auto empty = Description({}, 0x800);
  EXPECT_EQ(ApplyTarget(*empty, target), ApplyOutcome::NoFlashAreas);
  EXPECT_EQ(target.geometry.flashHigh, 0u);
  EXPECT_EQ(target.geometry.flashLow, 0u);
  EXPECT_EQ(target.eraseBlocks.size(), 64u);
  EXPECT_EQ(target.endAddressText, "FFFFH");
}

struct CodeBlockRule {
  uint32_t id00, id32, id64;
  uint32_t size;
  uint8_t count;
  uint16_t preserved, tail;
  ApplyOutcome outcome;
};

TEST(ApplyTarget, DecodesTheCodeBlockGeometryInBothFormats) {
  const CodeBlockRule rules[] = {
      // basic: S = code x 2048, K from bits 8-11, P = T = 512
      {0, 0x00020300, 0, 0x1000, 3, 512, 512, ApplyOutcome::Applied},
      // basic with size code 0: the description's block size (0x4000) stands in
      {0, 0x00000200, 0, 0x4000, 2, 512, 512, ApplyOutcome::Applied},
      // extended: S = 2048 << 3, K = 0x25, P code 0 (512), T code 2 (2048)
      {1u << 30, 0x00030500, 0x4020, 0x4000, 0x25, 512, 2048, ApplyOutcome::Applied},
      // extended: codes 3 mean no preserved area and no tail; code 15 halves
      {1u << 30, 0x000F0100, (3u << 10) | (3u << 13), 1024, 1, 0, 0, ApplyOutcome::Applied},
      // extended: P code 4 = 32 bytes, T code 7 = 256 bytes
      {1u << 30, 0x00000100, (4u << 10) | (7u << 13), 2048, 1, 32, 256, ApplyOutcome::Applied},
      // 2048 << 6 exceeds 64 KiB: applied, with the 2069 outcome
      {1u << 30, 0x00060100, 0, 0x20000, 1, 512, 512, ApplyOutcome::UnsupportedBlockSize},
  };
  for (const CodeBlockRule& rule : rules) {
    SCOPED_TRACE(testing::Message() << std::hex << rule.id00 << " " << rule.id32 << " " << rule.id64);
    auto d = Description({{0, 0x3FFFF}}, 0x4000);
    d->targetId00 = rule.id00;
    d->targetId32 = rule.id32;
    d->targetId64 = rule.id64;
    AppliedTarget target;
    EXPECT_EQ(ApplyTarget(*d, target), rule.outcome);
    EXPECT_EQ(target.geometry.codeBlockSize, rule.size);
    EXPECT_EQ(target.geometry.codeBlockCount, rule.count);
    EXPECT_EQ(target.geometry.preservedSize, rule.preserved);
    EXPECT_EQ(target.geometry.reservedTailSize, rule.tail);
    EXPECT_EQ(WriteImageSize(target.geometry) % rule.size, 0u);
    EXPECT_GT(WriteImageSize(target.geometry), 0x3FFFFu);
  }
}

TEST(ChipName, FollowsTheModelPrefixAndDigitRules) {
  EXPECT_EQ(ChipNameFromProductId(0x01004560), "KT51456.");
  EXPECT_EQ(ChipNameFromProductId(0x05001235), "KT4351235.");
  EXPECT_EQ(ChipNameFromProductId(0x0A000120), "KT430012.");
  EXPECT_EQ(ChipNameFromProductId(0x07000ABC), "KT4400ABC.");
}

}  // namespace
}  // namespace quarnel
