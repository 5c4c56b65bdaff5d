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
const std::string kS9 = SRecord('9', 0);

class LoadScan : public testing::ScanTest {};

TEST_F(LoadScan, StoresIntelDataAndReportsItsRange) {
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0x0100, {0x11, 0x22}), IntelRecord(0, 0x0080, {0x33}), kEnd})));
  EXPECT_THAT(user.messages, IsEmpty());
  EXPECT_EQ(lowest, 0x80u);
  EXPECT_EQ(highest, 0x101u);
  EXPECT_EQ(image[0x100], 0x11);
  EXPECT_EQ(image[0x101], 0x22);
  EXPECT_EQ(image[0x80], 0x33);
  EXPECT_EQ(image[0x102], kUntouched);
}

TEST_F(LoadScan, StoresEveryMotorolaAddressWidth) {
  EXPECT_TRUE(Load(Lines({SRecord('0', 0, {'h', 'd', 'r'}), SRecord('1', 0x0010, {1}), SRecord('2', 0x000020, {2}),
                          SRecord('3', 0x00000030, {3}), SRecord('5', 3), SRecord('9', 0), SRecord('8', 0),
                          SRecord('7', 0)})));
  EXPECT_THAT(user.messages, IsEmpty());
  EXPECT_EQ(image[0x10], 1);
  EXPECT_EQ(image[0x20], 2);
  EXPECT_EQ(image[0x30], 3);
}

TEST_F(LoadScan, MessagesNameTheCurrentFileWithAStopBox) {
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1})})));
  ASSERT_EQ(user.messages.size(), 1u);
  EXPECT_EQ(user.messages[0].style, MessageStyle::Stop);
  EXPECT_EQ(user.messages[0].textId, text::kNoEndRecord);
  EXPECT_EQ(user.messages[0].text, "No valid end record was found in /data/app.hex.");
}

TEST_F(LoadScan, MixedFormatsAreIllegalEitherWay) {
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), SRecord('1', 2, {2}), kEnd})));
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), IntelRecord(0, 2, {2}), kS9})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIllegalFormat, text::kIllegalFormat));
  EXPECT_EQ(image[2], kUntouched);  // nothing after the error is used
}

TEST_F(LoadScan, IntelChecksumErrorStopsTheScan) {
  std::string bad = IntelRecord(0, 0x10, {0x44});
  bad.back() = bad.back() == '0' ? '1' : '0';
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {0x55}), bad, IntelRecord(0, 0x20, {0x66}), kEnd})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIntelChecksumError));
  EXPECT_EQ(image[0], 0x55);  // bytes stored before the error stay
  EXPECT_EQ(image[0x10], kUntouched);
  EXPECT_EQ(image[0x20], kUntouched);
}

TEST_F(LoadScan, MotorolaChecksumErrorOnAnyTypeStopsTheScan) {
  std::string badHeader = SRecord('0', 0, {'x'});
  badHeader.back() = badHeader.back() == '0' ? '1' : '0';
  // The box reads as the Intel one; the error's number tells them apart.
  EXPECT_FALSE(Load(Lines({badHeader, SRecord('1', 0, {1}), kS9})));
  EXPECT_EQ(scanner.LastErrorId(), text::kSRecordChecksumError);
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), "S", kS9})));
  EXPECT_EQ(scanner.LastErrorId(), text::kSRecordChecksumError);
  EXPECT_EQ(user.messages.size(), 2u);
}

TEST_F(LoadScan, ColonAloneIsANonRecordWhileSAloneFailsItsChecksum) {
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), ":", kEnd})));
  EXPECT_FALSE(Load(Lines({":"})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIllegalFormat, text::kIllegalFormat));
}

TEST_F(LoadScan, EndRecordIsComparedWithoutCaseButExactly) {
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0, {1}), ":00000001ff"})));
  EXPECT_THAT(user.messages, IsEmpty());
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), ":00000001FF "})));
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), IntelRecord(1, 0x0010)})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIllegalEndRecord, text::kIllegalEndRecord));
}

TEST_F(LoadScan, ReadingStopsAtTheFirstIntelEndRecord) {
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0, {1}), kEnd, IntelRecord(0, 0x40, {2}), "garbage:", ":zz"})));
  EXPECT_THAT(user.messages, IsEmpty());
  EXPECT_EQ(image[0x40], kUntouched);
  EXPECT_EQ(highest, 0u);
}

TEST_F(LoadScan, StartAddressAndUnknownIntelTypesAreIllegal) {
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), IntelRecord(3, 0, {0, 0, 0, 0}), kEnd})));
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), IntelRecord(5, 0, {0, 0, 0, 0}), kEnd})));
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), IntelRecord(6, 0), kEnd})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIllegalFormat, text::kIllegalFormat, text::kIllegalFormat));
}

TEST_F(LoadScan, UnknownSTypesAreIllegal) {
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), SRecord('4', 0), kS9})));
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), SRecord('6', 0), kS9})));
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), "SX03000000FC", kS9})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIllegalFormat, text::kIllegalFormat, text::kIllegalFormat));
}

TEST_F(LoadScan, EndRecordsPairWithTheirDataType) {
  EXPECT_TRUE(Load(Lines({SRecord('3', 0, {1}), SRecord('7', 0)})));
  EXPECT_TRUE(Load(Lines({SRecord('2', 0, {1}), SRecord('8', 0)})));
  EXPECT_TRUE(Load(Lines({SRecord('1', 0, {1}), SRecord('9', 0)})));
  EXPECT_THAT(user.messages, IsEmpty());
  EXPECT_FALSE(Load(Lines({SRecord('2', 0, {1}), SRecord('9', 0)})));
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), SRecord('7', 0)})));
  EXPECT_FALSE(Load(Lines({SRecord('3', 0, {1}), SRecord('8', 0)})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kUnpairedEndRecord, text::kUnpairedEndRecord,
                                          text::kUnpairedEndRecord));
}

TEST_F(LoadScan, MotorolaEndRecordsDoNotStopReading) {
  EXPECT_TRUE(Load(Lines({SRecord('1', 0, {1}), kS9, SRecord('1', 0x50, {0x77}), kS9})));
  EXPECT_EQ(image[0x50], 0x77);
  EXPECT_EQ(highest, 0x50u);
  EXPECT_THAT(user.messages, IsEmpty());
}

TEST_F(LoadScan, DataAfterTheLastEndRecordLacksItsEndRecord) {
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), kS9, SRecord('1', 0x50, {2})})));
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1})})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kNoEndRecord, text::kNoEndRecord));
}

TEST_F(LoadScan, FilesWithoutDataRecords) {
  EXPECT_FALSE(Load(Lines({})));
  EXPECT_FALSE(Load(Lines({"", "; comment", "s1130000", "  :00000001FF"})));
  EXPECT_FALSE(Load(Lines({kEnd})));
  EXPECT_FALSE(Load(Lines({SRecord('0', 0, {'x'}), SRecord('5', 0)})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kNoDataRecord, text::kNoDataRecord, text::kNoDataRecord,
                                          text::kNoDataRecord));
  EXPECT_EQ(lowest, 0xFFFFFFFFu);
  EXPECT_EQ(highest, 0u);
}

TEST_F(LoadScan, DataWithoutBytesCountsAsData) {
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0x1234), kEnd})));
  EXPECT_EQ(lowest, 0x1234u);
  EXPECT_EQ(highest, 0u);
}

TEST_F(LoadScan, IntelWithoutEndRecord) {
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), IntelRecord(0, 1, {2})})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kNoEndRecord));
}

TEST_F(LoadScan, SegmentAndLinearBasesAreSummed) {
  EXPECT_TRUE(Load(Lines({IntelBaseRecord(2, 0x0100), IntelBaseRecord(4, 0x0001), IntelRecord(0, 0x0020, {1}), kEnd})));
  EXPECT_EQ(lowest, 0x1000u + 0x10000u + 0x20u);
  EXPECT_EQ(highest, 0x11020u);
}

// Bases that add up past 4 GiB, or data that runs past FFFFFFFFH, would
// otherwise wrap to low addresses.
TEST_F(LoadScan, RecordsWhoseFileAddressDoesNotFit32BitsAreRefused) {
  const std::vector<std::vector<std::string>> files = {
      {IntelBaseRecord(4, 0xFFFF), IntelBaseRecord(2, 0x1000), IntelRecord(0, 0x0100, {1}), kEnd},
      {IntelBaseRecord(4, 0xFFFF), IntelRecord(0, 0xFFFE, {1, 2, 3}), kEnd},
      {SRecord('3', 0xFFFFFFFE, {1, 2, 3}), SRecord('7', 0)},
  };
  for (const auto& lines : files) {
    SCOPED_TRACE(lines.front());
    user.messages.clear();
    EXPECT_FALSE(Load(Lines(lines)));
    EXPECT_THAT(user.TextIds(), ElementsAre(text::kAddressTooLarge));
    EXPECT_EQ(image[0x100], kUntouched);
    EXPECT_EQ(image[0], kUntouched);
  }
  EXPECT_TRUE(Load(Lines({IntelBaseRecord(4, 0xFFFF), IntelRecord(0, 0xFFFE, {1, 2}), kEnd})));
}

TEST_F(LoadScan, DataOutsideTheWindowMovesTheOutputsButIsNotStored) {
  ObjectFileData file = Lines({IntelRecord(0, 0x10, {1}), IntelRecord(0, 0x20, {2}), IntelRecord(0, 0x30, {3}), kEnd});
  EXPECT_TRUE(scanner.LoadObjectFile(file, 0x20, 0x2F, true, lowest, highest));
  EXPECT_EQ(lowest, 0x10u);
  EXPECT_EQ(highest, 0x30u);
  EXPECT_EQ(image[0x10], kUntouched);
  EXPECT_EQ(image[0x20], 2);
  EXPECT_EQ(image[0x30], kUntouched);
}

TEST_F(LoadScan, DataAboveTheFlashIsNotStoredAndDoesNotFail) {
  geometry.SetFlashAreas({{0x0100, 0x01FF}});
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0x00FF, {1, 2}), IntelRecord(0, 0x01FF, {3, 4}), kEnd})));
  EXPECT_EQ(image[0xFF], kUntouched);
  EXPECT_EQ(image[0x100], 2);
  EXPECT_EQ(image[0x1FF], 3);
  EXPECT_EQ(image[0x200], kUntouched);
  EXPECT_EQ(highest, 0x200u);
}

TEST_F(LoadScan, NeverStoresBeyondTheImage) {
  geometry.SetFlashAreas({{0x0000, 0x1FFFF}});  // larger than the 64 KiB image
  EXPECT_TRUE(Load(Lines({IntelBaseRecord(4, 1), IntelRecord(0, 0, {1}), kEnd})));
  EXPECT_EQ(highest, 0x10000u);
}

TEST_F(LoadScan, OffsetWrapsAt32Bits) {
  scanner.SetCurrentFile("/data/app.hex", -0x10);
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0x0010, {0xAB}), IntelRecord(0, 0x0000, {0xCD}), kEnd})));
  EXPECT_EQ(image[0], 0xAB);
  EXPECT_EQ(highest, 0xFFFFFFF0u);  // file address 0 lands just below 4 GiB
  EXPECT_EQ(lowest, 0u);
}

TEST_F(LoadScan, RecordCrossingTheTopOfTheAddressSpace) {
  scanner.SetCurrentFile("/data/app.hex", -0x12);
  EXPECT_TRUE(Load(Lines({IntelRecord(0, 0x0010, {1, 2, 3, 4}), kEnd})));
  EXPECT_EQ(image[0], 3);
  EXPECT_EQ(image[1], 4);
  EXPECT_EQ(image[2], kUntouched);
  EXPECT_EQ(highest, 0xFFFFFFFFu);
}

TEST_F(LoadScan, WindowCanCutARecord) {
  ObjectFileData file = Lines({IntelRecord(0, 0x20, {0, 1, 2, 3, 4, 5, 6, 7}), kEnd});
  EXPECT_TRUE(scanner.LoadObjectFile(file, 0x22, 0x25, true, lowest, highest));
  EXPECT_EQ(image[0x21], kUntouched);
  EXPECT_EQ(image[0x22], 2);
  EXPECT_EQ(image[0x25], 5);
  EXPECT_EQ(image[0x26], kUntouched);
  EXPECT_EQ(lowest, 0x20u);
  EXPECT_EQ(highest, 0x27u);
}

TEST_F(LoadScan, WithoutStoreTheImageIsUntouched) {
  EXPECT_TRUE(scanner.LoadObjectFile(Lines({IntelRecord(0, 0, {1}), kEnd}), 0, 0xFFFFFFFF, false, lowest, highest));
  EXPECT_EQ(image[0], kUntouched);
}

TEST_F(LoadScan, ReadsCrLfLinesAndLowerCaseDigits) {
  std::string record = IntelRecord(0, 0x00AB, {0xCD, 0xEF});
  for (char& c : record) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_TRUE(Load(ObjectFileData(record + "\r\n" + kEnd + "\r\n")));
  EXPECT_EQ(image[0xAB], 0xCD);
  EXPECT_EQ(image[0xAC], 0xEF);
}

TEST_F(LoadScan, RecordLongerThanItsLineIsIllegal) {
  EXPECT_FALSE(Load(Lines({IntelRecord(0, 0, {1}), ":040000000102F9", kEnd})));
  EXPECT_FALSE(Load(Lines({SRecord('1', 0, {1}), "S1020000FD", kS9})));
  EXPECT_THAT(user.TextIds(), ElementsAre(text::kIllegalFormat, text::kIllegalFormat));
}

}  // namespace
}  // namespace quarnel
