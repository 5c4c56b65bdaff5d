#include <gtest/gtest.h>

#include "base/TextIds.h"
#include "objfile/tests/ScanFixture.h"

namespace quarnel {
namespace {

using testing::IntelBaseRecord;
using testing::IntelRecord;
using testing::Lines;
using testing::SRecord;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kEnd = ":00000001FF";

std::string WithBadChecksum(std::string record) {
  record.back() = record.back() == '0' ? '1' : '0';
  return record;
}

// Flash [0, 0x7DFF] and [0x10000, 0x1FFFF]; code area 4 x 0x2000 bytes whose
// top 0x200 bytes, [0x7E00, 0x7FFF], are the reserved tail.
class PresenceScan : public testing::ScanTest {
 protected:
  PresenceScan() {
    geometry.SetFlashAreas({{0x0000, 0x7DFF}, {0x10000, 0x1FFFF}});
    geometry.codeBlockCount = 4;
    geometry.codeBlockSize = 0x2000;
    geometry.reservedTailSize = 0x200;
  }
  bool Scan(const ObjectFileData& file, uint32_t start = 0, uint32_t end = 0xFFFFFFFF, int32_t offset = 0) {
    outside = inTail = true;  // the scan must clear them itself
    return scanner.ScanFlashPresence(file, start, end, offset, outside, inTail);
  }
  bool outside = false;
  bool inTail = false;
};

TEST_F(PresenceScan, FlashBytesRaiseNoFlag) {
  EXPECT_TRUE(Scan(Lines({IntelRecord(0, 0x7DFF, {1}), IntelBaseRecord(4, 1), IntelRecord(0, 0xFFFF, {1}), kEnd})));
  EXPECT_FALSE(outside);
  EXPECT_FALSE(inTail);
}

TEST_F(PresenceScan, ReservedTailCountsAsFlashButIsFlagged) {
  EXPECT_TRUE(Scan(Lines({IntelRecord(0, 0x7E00, {1}), kEnd})));
  EXPECT_FALSE(outside);
  EXPECT_TRUE(inTail);
  EXPECT_TRUE(Scan(Lines({IntelRecord(0, 0x7FFF, {1}), kEnd})));
  EXPECT_TRUE(inTail);
}

TEST_F(PresenceScan, WithoutCodeBlocksThereIsNoTail) {
  geometry.codeBlockCount = 0;
  EXPECT_TRUE(Scan(Lines({IntelRecord(0, 0x7E00, {1}), kEnd})));
  EXPECT_TRUE(outside);
  EXPECT_FALSE(inTail);
}

TEST_F(PresenceScan, OnlyBytesInsideTheWindowCountAfterTheOffset) {
  ObjectFileData file = Lines({SRecord('1', 0x0100, {1}), SRecord('1', 0x9000, {2}), SRecord('9', 0)});
  EXPECT_TRUE(Scan(file, 0, 0x8FFF));
  EXPECT_FALSE(outside);
  EXPECT_TRUE(Scan(file));
  EXPECT_TRUE(outside);
  EXPECT_TRUE(Scan(file, 0, 0x8FFF, 0x7D00));  // 0x100 lands on 0x7E00
  EXPECT_FALSE(outside);
  EXPECT_TRUE(inTail);
}

TEST_F(PresenceScan, IntelErrorsAreReported) {
  EXPECT_FALSE(Scan(Lines({WithBadChecksum(IntelRecord(0, 0, {1})), kEnd})));
  EXPECT_FALSE(Scan(Lines({IntelRecord(3, 0, {0, 0, 0, 0}), kEnd})));
  EXPECT_FALSE(Scan(Lines({IntelRecord(0, 0, {1}), ":00000001FF "})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIntelChecksumError, text::kIllegalFormat, text::kIllegalEndRecord));
}

TEST_F(PresenceScan, StopsAtTheFirstIntelEndRecord) {
  EXPECT_TRUE(Scan(Lines({IntelRecord(0, 0, {1}), kEnd, IntelRecord(0, 0x9000, {1}), ":zz"})));
  EXPECT_FALSE(outside);
  EXPECT_THAT(user.messages, IsEmpty());
}

TEST_F(PresenceScan, MotorolaProblemsPassSilently) {
  EXPECT_TRUE(Scan(Lines({WithBadChecksum(SRecord('1', 0x9000, {1})), SRecord('8', 0), SRecord('1', 0x9100, {1})})));
  EXPECT_TRUE(outside);  // the good record after the bad ones still counts
  EXPECT_TRUE(Scan(Lines({SRecord('1', 0, {1}), SRecord('4', 0), SRecord('1', 0x9000, {1})})));
  EXPECT_FALSE(outside);  // an unknown type ends the scan
  EXPECT_THAT(user.messages, IsEmpty());
}

class OccupancyScan : public testing::ScanTest {
 protected:
  bool Mark(const ObjectFileData& file, uint32_t start = 0, uint32_t end = 0xFFFFFFFF, int32_t offset = 0) {
    return scanner.MarkOccupiedBytes(file, start, end, offset, map);
  }
  std::vector<uint8_t> map = std::vector<uint8_t>(0x100, 0);
};

TEST_F(OccupancyScan, MarksEachByteAndStopsAtTheFirstRepeat) {
  EXPECT_TRUE(Mark(Lines({IntelRecord(0, 0x10, {1, 2}), kEnd})));
  EXPECT_EQ(map[0x0F], 0);
  EXPECT_NE(map[0x10], 0);
  EXPECT_NE(map[0x11], 0);
  EXPECT_EQ(map[0x12], 0);
  EXPECT_FALSE(Mark(Lines({IntelRecord(0, 0x20, {1}), IntelRecord(0, 0x11, {1}), IntelRecord(0, 0x30, {1}), kEnd})));
  EXPECT_EQ(map[0x30], 0);
  EXPECT_THAT(user.messages, IsEmpty());
}

TEST_F(OccupancyScan, RepeatsOutsideTheWindowOrAboveTheMapDoNotCount) {
  ObjectFileData file = Lines({SRecord('1', 0x10, {1}), SRecord('1', 0x10, {1}), SRecord('9', 0)});
  EXPECT_TRUE(Mark(file, 0x20, 0x30));
  EXPECT_TRUE(Mark(file, 0, 0xFFFF, 0x1000));  // flash 0x1010 lies above the map
  EXPECT_FALSE(Mark(file));
}

TEST_F(OccupancyScan, TwoFilesShareOneMap) {
  EXPECT_TRUE(Mark(Lines({IntelRecord(0, 0x10, {1, 2, 3, 4}), kEnd})));
  EXPECT_TRUE(Mark(Lines({IntelRecord(0, 0x10, {1, 2, 3, 4}), kEnd}), 0, 0xFFFF, 4));
  EXPECT_FALSE(Mark(Lines({IntelRecord(0, 0x10, {1, 2, 3, 4}), kEnd}), 0, 0xFFFF, 2));
}

TEST_F(OccupancyScan, BadRecordsEndOrSkipByFormat) {
  // An Intel checksum error ends the scan; the repeat after it is not seen.
  EXPECT_TRUE(Mark(Lines({IntelRecord(0, 0x40, {1}), WithBadChecksum(IntelRecord(0, 0, {1})),
                          IntelRecord(0, 0x40, {1}), kEnd})));
  // Intel records of other types are skipped; bases still apply.
  EXPECT_TRUE(Mark(Lines({IntelRecord(3, 0, {0, 0, 0, 0}), IntelBaseRecord(2, 0x0005), IntelRecord(0, 0, {1}),
                          kEnd})));
  EXPECT_NE(map[0x50], 0);
  // A bad S record is skipped, an unknown type ends the scan.
  EXPECT_FALSE(Mark(Lines({WithBadChecksum(SRecord('1', 0x60, {1})), SRecord('1', 0x60, {1}),
                           SRecord('1', 0x60, {1})})));
  EXPECT_TRUE(Mark(Lines({SRecord('1', 0x70, {1}), SRecord('6', 0), SRecord('1', 0x70, {1})})));
}

TEST_F(OccupancyScan, NothingAfterAnIntelEndRecordIsMarked) {
  EXPECT_TRUE(Mark(Lines({IntelRecord(0, 0x80, {1}), kEnd, IntelRecord(0, 0x80, {1})})));
}

}  // namespace
}  // namespace quarnel

namespace quarnel {
namespace {

TEST(TargetGeometry, FlashRangeTailAndOccupancyTop) {
  TargetGeometry geometry;
  geometry.SetFlashAreas({{0x1000, 0x1FFF}, {0x0000, 0x07FF}});
  EXPECT_EQ(geometry.flashLow, 0u);
  EXPECT_EQ(geometry.flashHigh, 0x1FFFu);
  EXPECT_EQ(geometry.OccupancyTop(), 0x1FFFu);
  EXPECT_TRUE(geometry.AnyAreaIntersects(0x07FF, 0x0FFF));
  EXPECT_FALSE(geometry.AnyAreaIntersects(0x0800, 0x0FFF));
  geometry.codeBlockCount = 3;
  geometry.codeBlockSize = 0x1000;
  geometry.reservedTailSize = 0x10;
  EXPECT_EQ(geometry.OccupancyTop(), 0x2FFFu);
  EXPECT_FALSE(geometry.InReservedTail(0x2FEF));
  EXPECT_TRUE(geometry.InReservedTail(0x2FF0));
  EXPECT_TRUE(geometry.InReservedTail(0x2FFF));
  EXPECT_FALSE(geometry.InReservedTail(0x3000));
  EXPECT_TRUE(geometry.IsFlash(0x2FF0));
  EXPECT_FALSE(geometry.IsFlash(0x2FEF));
  geometry.SetFlashAreas({});
  EXPECT_EQ(geometry.flashHigh, 0u);
}

}  // namespace
}  // namespace quarnel
