#include "base/StringTable.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "base/TextIds.h"

namespace quarnel {
namespace {

TEST(StringTable, HoldsTextsByNumber) {
  EXPECT_EQ(LoadText(2021), "The format of %1 is illegal.");
  EXPECT_EQ(LoadText(183), LoadText(184));
  EXPECT_EQ(LoadText(2024), "Internal QUARNEL error.\n(Error code:2024)");
  EXPECT_EQ(LoadText(2039), LoadText(193));
  EXPECT_EQ(LoadText(2047), "Internal QUARNEL error.\n(Error code:1013)");
  EXPECT_EQ(LoadText(2050),
            "The QUARNEL Flash Writer may be malfunctioning.\nCheck the connection, and then restart QUARNEL and "
            "the KORVO.\n(Error code: 0xFFFF)");
  EXPECT_EQ(LoadText(145),
            "Failed to access the target LSI.\nCheck the user target system connected to the KORVO.\n"
            "(Error code: 0x6100)");
  EXPECT_EQ(LoadText(2014), "Value in \"Start Address on File\" is greater than the one in \"Arbitrary Address\".");
}

TEST(StringTable, UnknownNumbersGiveEmptyTexts) {
  EXPECT_EQ(LoadText(203), "");
  EXPECT_EQ(LoadText(0), "");
  EXPECT_EQ(LoadText(99999), "");
}

TEST(StringTable, EveryNamedTextIsInTheTable) {
  // Every name of TextIds.h but kVersionSuffix, whose text is left out on purpose.
  const std::vector<int> named{
      text::kVersionInformation, text::kProgramName, text::kSelectFileToWrite, text::kObjectFileFilter,
      text::kLibraryName, text::kClearLogQuestion, text::kSaveLogTitle, text::kLogFileFilter, text::kNotFound,
      text::kExitQuestion, text::kInvalid, text::kLogNotSaved, text::kFileNameColumn, text::kStartAddressColumn,
      text::kOffsetColumn, text::kEndAddressColumn, text::kBlockColumn, text::kBlockStartColumn,
      text::kBlockEndColumn, text::kEraseColumn, text::kStatusColumn, text::kFlashStartColumn, text::kStartWriting,
      text::kCancelWriting, text::kWriteWithoutErase, text::kAdditionalDataQuestion, text::kUnplugQuestion,
      text::kStartErasure, text::kCancelErasure, text::kStartVerification, text::kCancelVerification,
      text::kFileChanged, text::kNotFill, text::kAddTwoWords, text::kEraseBeforeWrite, text::kContentRead,
      text::kWritingHeader, text::kFileForWriting, text::kFlashContentFill, text::kWritingInterrupted,
      text::kWritingCompleted, text::kVerificationHeader, text::kFileForVerification, text::kNoDifferences,
      text::kDifferencesFound, text::kVerificationInterrupted, text::kVerificationCompleted, text::kErasingBlocks,
      text::kErasingInterrupted, text::kErasingHeader, text::kErasingCompleted, text::kTargetFailed,
      text::kFailedTargetsList, text::kWritingFailedOnOthers, text::kErasingFailedOnOthers,
      text::kVerificationTargetHeader, text::kVerificationFailedOnOthers, text::kTargetNotRead,
      text::kWritingFailed, text::kErasingFailed, text::kReadingFailed, text::kTargetChanged,
      text::kWrongSecurityId, text::kTargetMismatch, text::kFirmwareUnreadable, text::kFirmwareDifferent,
      text::kNoTrgFiles, text::kNotConnected, text::kLockNotObtained, text::kSecurityIdCheck, text::kTrgSkipped,
      text::kNoTrgRead, text::kUnsupportedTarget, text::kDuplicateWithListed, text::kNothingAtOrAboveStart,
      text::kNothingInWindow, text::kIllegalStart, text::kIllegalOffset, text::kIllegalFillByte,
      text::kIllegalArbitraryEnd, text::kNoArbitraryEnd, text::kCannotOpen, text::kStartAboveEnd, text::kNoFillByte,
      text::kDuplicateInFile, text::kRowStartUnreadable, text::kRowEndUnreadable, text::kRowOffsetUnreadable,
      text::kRowOutOfOrder, text::kOutsideFlash, text::kFileTooLarge, text::kIllegalEndRecord,
      text::kIntelChecksumError, text::kSRecordChecksumError, text::kUnpairedEndRecord, text::kNoEndRecord,
      text::kNoDataRecord, text::kIllegalFormat, text::kAddressTooLarge, text::kMalfunction6000,
      text::kMalfunction6001, text::kMalfunction6002, text::kMalfunction6003, text::kMalfunction6304,
      text::kTargetAccess6305, text::kMalfunction6306, text::kTargetAccess6309, text::kTargetAccess6302,
      text::kCommunication0001, text::kTargetAccess6307, text::kTargetAccess6308, text::kMalfunction630A,
      text::kTargetAccess6100, text::kMalfunction630C, text::kTargetAccess6300, text::kTargetAccess6303,
      text::kCommunication1000, text::kCommunication1001, text::kMalfunction1002, text::kMalfunction1004,
      text::kInternalError1006, text::kInternalError1007, text::kInternalError1008, text::kInternalError1009,
      text::kInternalError1010, text::kInternalError1011, text::kInternalError1012, text::kInternalError1013,
      text::kMalfunctionFFFF, text::kMalfunction1003,
  };
  std::set<int> seen;
  for (int id : named) {
    EXPECT_FALSE(LoadText(id).empty()) << id;
    EXPECT_TRUE(seen.insert(id).second) << id << " has two names";
  }
  EXPECT_EQ(LoadText(text::kVersionSuffix), "");
}

TEST(StringTable, FormatReplacesEveryFileNamePlaceholder) {
  EXPECT_EQ(FormatText(2013, "/a/b.hex"), "/a/b.hex could not be opened.");
  EXPECT_EQ(FormatText(2011, "%1.s"), "No valid end record was found in %1.s.");
  EXPECT_EQ(FormatText(163, "x"), LoadText(163));
}

}  // namespace
}  // namespace quarnel
