#include "ops/WriteOperation.h"

#include <gmock/gmock.h>

#include "base/TextIds.h"
#include "ops/tests/OpsFixture.h"

namespace quarnel::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

struct AdditionCase {
  const char* name;
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  bool notFill;
  std::vector<std::pair<uint32_t, uint32_t>> expected;  // address, size
};

class AdditionalDataTest : public OpsTest, public ::testing::WithParamInterface<AdditionCase> {};

TEST_P(AdditionalDataTest, PlansTheExtraWordsByTheGapRulesAndTheBoundaryRules) {
  const AdditionCase& c = GetParam();
  std::vector<WriteRange> ranges;
  for (auto [start, end] : c.ranges) ranges.push_back({"f", start, end, WriteRange::kFileData});
  std::vector<AdditionalData> additions;
  ASSERT_TRUE(WriteOperation::PlanAdditionalData(ranges, target.geometry, c.notFill, additions));
  WriteOperation::ApplyBoundaryRules(additions, target.geometry);
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (const AdditionalData& a : additions) got.emplace_back(a.address, a.size);
  EXPECT_EQ(got, c.expected);
}

// The last code block is 1F000-1FFFF; its limit is 1FC00 (preserved area and
// tail below the code end). A range ending at 1FBFF leaves no gap there.
INSTANTIATE_TEST_SUITE_P(
    Rules, AdditionalDataTest,
    ::testing::Values(
        AdditionCase{"FourBytesBeforeNextFile", {{0x0000, 0x0F0F}, {0x0F14, 0x1FBFF}}, true, {{0x0F10, 4}}},
        AdditionCase{"TwoBytesBeforeNextFile", {{0x0000, 0x0F0F}, {0x0F12, 0x1FBFF}}, true, {{0x0F10, 2}}},
        AdditionCase{"NoneBeforeTouchingFile", {{0x0000, 0x0F0F}, {0x0F10, 0x1FBFF}}, true, {}},
        AdditionCase{"NoneBetweenFilesWithoutNotFill", {{0x0000, 0x0F0F}, {0x0F14, 0x1FBFF}}, false, {}},
        AdditionCase{"NextBlockAfterLastFileNotFill", {{0x1000, 0x1FFF}}, true, {{0x2000, 4}}},
        AdditionCase{"NextBlockAfterLastFileFill", {{0x1000, 0x1FFF}}, false, {{0x2000, 4}}},
        AdditionCase{"NoneAt64KiBBoundary", {{0xF000, 0xFFFF}}, true, {}},
        AdditionCase{"CutTo2AcrossBoundary", {{0xF000, 0xFFFD}}, true, {{0xFFFE, 2}}},
        AdditionCase{"TwoAfterRoomAtBoundaryDropped", {{0xF000, 0xFFFD}}, false, {}},
        AdditionCase{"TwoAfterRoomOfTwo", {{0x1000, 0x1FFD}}, false, {{0x2000, 2}}},
        AdditionCase{"FourInsideLastCodeBlock", {{0x1F000, 0x1F0FF}}, true, {{0x1F100, 4}}},
        AdditionCase{"TwoBelowLastCodeBlockLimit", {{0x1F000, 0x1FBFD}}, true, {{0x1FBFE, 2}}},
        AdditionCase{"NoneInLastCodeBlockWithoutNotFill", {{0x1F000, 0x1F0FF}}, false, {}},
        AdditionCase{"NoneAboveLastCodeBlockLimit", {{0x1F000, 0x1FDFF}}, true, {}}),
    [](const auto& info) { return std::string(info.param.name); });

class WriteTest : public OpsTest {
 protected:
  WriteSettings Settings(bool erase, bool notFill, std::string fill = "5A") {
    WriteSettings s;
    s.eraseBeforeWrite = erase;
    s.notFill = notFill;
    s.fillMode = fill.empty() ? FillMode::FlashContent : FillMode::ArbitraryData;
    s.arbitraryData = std::move(fill);
    s.endMode = EndAddressMode::FileContent;
    return s;
  }
  std::vector<std::string> Changes() const {
    std::vector<std::string> out;
    for (const std::string& call : api.calls)
      if (call.starts_with("Erase") || call.starts_with("Write")) out.push_back(call);
    return out;
  }
  // Two files: 1000-10FF and 3000-30FF.
  void ListTwoFiles() {
    List(WriteFile("a.hex", IntelHexText(0x1000, Pattern(0x100, 1))));
    List(WriteFile("b.hex", IntelHexText(0x3000, Pattern(0x100, 2))));
  }
  WriteOperation write{context};
};

TEST_F(WriteTest, AsksTheOverwriteWarningOnlyWithEraseOff) {
  ListTwoFiles();
  window.answers[text::kWriteWithoutErase] = false;
  EXPECT_EQ(write.Run(Settings(false, true)), OperationOutcome::NotStarted);
  EXPECT_THAT(window.TextIds(), ElementsAre(text::kStartWriting, text::kWriteWithoutErase));
  EXPECT_EQ(window.messages[1].style, MessageStyle::YesNoQuestion);
  EXPECT_THAT(api.calls, IsEmpty());

  window.messages.clear();
  EXPECT_EQ(write.Run(Settings(true, true)), OperationOutcome::Completed);
  EXPECT_THAT(window.TextIds(), ElementsAre(text::kStartWriting));
}

TEST_F(WriteTest, ReadFailureOfTheFlashContentLogsAndWritesNothing) {
  ListTwoFiles();
  api.FailOn("ReadBlock", 1, 1, 0x6304);
  EXPECT_EQ(write.Run(Settings(true, true, "")), OperationOutcome::Failed);
  EXPECT_THAT(window.reported, ElementsAre(0x6304));
  EXPECT_THAT(window.log, ElementsAre("Error: The error occurred in flash memory reading process."));
  EXPECT_THAT(api.calls, ElementsAre("ReadBlock 1 00000"));
  EXPECT_THAT(window.layouts, ElementsAre("busy 0", "idle 0"));
}

TEST_F(WriteTest, WithoutNotFillWritesEveryBlockFromFirstToLastInFullAndLeavesOthers) {
  ListTwoFiles();
  std::fill(api.memory[0].begin(), api.memory[0].end(), 0x11);
  ASSERT_EQ(write.Run(Settings(true, false)), OperationOutcome::Completed);
  EXPECT_THAT(Changes(), ElementsAre("Erase 01000", "Write 01000-01FFF", "Erase 02000", "Write 02000-02FFF",
                                     "Erase 03000", "Write 03000-03FFF"));
  std::vector<uint8_t> expected(0x3000, 0x5A);
  std::ranges::copy(Pattern(0x100, 1), expected.begin());
  std::ranges::copy(Pattern(0x100, 2), expected.begin() + 0x2000);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), api.memory[0].begin() + 0x1000));
  EXPECT_TRUE(std::all_of(api.memory[0].begin(), api.memory[0].begin() + 0x1000, [](uint8_t b) { return b == 0x11; }));
  EXPECT_TRUE(std::all_of(api.memory[0].begin() + 0x4000, api.memory[0].end(), [](uint8_t b) { return b == 0x11; }));

  const std::vector<std::string> tail(window.log.end() - 8, window.log.end());
  EXPECT_THAT(tail, ElementsAre("Erasing block# :  2 3 4 ", "[00000H - 00FFFH] : blank", "[01000H - 01FFFH] : data",
                                "[02000H - 02FFFH] : data", "[03000H - 03FFFH] : data", "[04000H - 1FDFFH] : blank",
                                "Writing was completed normally. ", "========================="));
  EXPECT_THAT(window.log, Contains("  File: [01000H - 010FFH] --> Flash: [01000H - 010FFH]"));
  EXPECT_THAT(window.log, Contains("  Fill Data: 5AH"));
  EXPECT_THAT(window.log, Contains("Erase Flash Memory before Write : ON"));
  EXPECT_THAT(window.layouts, ElementsAre("busy 0", "idle 0"));
  EXPECT_EQ(window.progress.back().total, 0u);
}

TEST_F(WriteTest, NotFillWritesOnlyTheFilesAndMapsAdjacentRecordsSeparately) {
  List(WriteFile("a.hex", IntelHexText(0x0F00, Pattern(0x200, 3))));
  ASSERT_EQ(write.Run(Settings(false, true)), OperationOutcome::Completed);
  EXPECT_THAT(Changes(), ElementsAre("Write 00F00-00FFF", "Write 01000-010FF"));
  const std::vector<std::string> tail(window.log.end() - 6, window.log.end());
  EXPECT_THAT(tail, ElementsAre("[00000H - 00EFFH] : blank", "[00F00H - 00FFFH] : data", "[01000H - 010FFH] : data",
                                "[01100H - 1FDFFH] : blank", "Writing was completed normally. ",
                                "========================="));
}

// What a fill byte keeps is the preserved area and the tail: with neither,
// nothing is read (not the block after the code area).
TEST_F(WriteTest, WithNothingPreservedTheFillByteReadsNothing) {
  target.geometry.preservedSize = 0;
  target.geometry.reservedTailSize = 0;
  List(WriteFile("a.hex", IntelHexText(0x1F000, Pattern(0x100, 3))));
  ASSERT_EQ(write.Run(Settings(true, true)), OperationOutcome::Completed);
  for (const std::string& call : api.calls) EXPECT_FALSE(call.starts_with("ReadBlock")) << call;
}

TEST_F(WriteTest, CancelInTheBlockLoopLogsTheErasedBlocksTheMapAndTheInterruption) {
  ListTwoFiles();
  window.cancelAtDrain = 3;  // blocks 0 (skipped) and 1 pass, block 2 is not reached
  ASSERT_EQ(write.Run(Settings(true, false)), OperationOutcome::Cancelled);
  EXPECT_THAT(Changes(), ElementsAre("Erase 01000", "Write 01000-01FFF"));
  const std::vector<std::string> tail(window.log.end() - 6, window.log.end());
  EXPECT_THAT(tail, ElementsAre("Erasing block# :  2 ", "[00000H - 00FFFH] : blank", "[01000H - 01FFFH] : data",
                                "[02000H - 1FDFFH] : blank", "Writing was interrupted. ", "========================="));
  EXPECT_FALSE(window.cancel);
}

TEST_F(WriteTest, AdditionalDataIntoAFileBlockAsksFirstAndWritesOnlyOnOk) {
  List(WriteFile("a.hex", IntelHexText(0x1000, Pattern(0x1000, 4))));
  List(WriteFile("b.hex", IntelHexText(0x2004, Pattern(0xFC, 5))));
  WriteSettings settings = Settings(true, true);
  settings.addTwoWords = true;
  window.answers[text::kAdditionalDataQuestion] = false;
  EXPECT_EQ(write.Run(settings), OperationOutcome::NotStarted);
  EXPECT_THAT(window.TextIds(), ElementsAre(text::kStartWriting, text::kAdditionalDataQuestion));
  EXPECT_THAT(Changes(), IsEmpty());

  window.answers[text::kAdditionalDataQuestion] = true;
  Fill(0, 0x2000, 0x2003, 0x00);
  settings.eraseBeforeWrite = false;
  ASSERT_EQ(write.Run(settings), OperationOutcome::Completed);
  EXPECT_THAT(Changes(), Contains("Write 02000-02003"));
  EXPECT_THAT(std::vector<uint8_t>(api.memory[0].begin() + 0x2000, api.memory[0].begin() + 0x2004),
              ElementsAre(0xFF, 0xFF, 0xFF, 0xFF));
}

// Two boards that hold different bytes in the preserved area and the tail:
// the file goes to both alike, the kept bytes are each board's own, written
// one board at a time only where they differ.
TEST_F(WriteTest, TouchingThePreservedAreaErasesTheLastCodeBlockAndGivesEachBoardItsOwnBack) {
  UseTwoTargets();
  const std::vector<uint8_t> data = Pattern(0x200, 6);
  List(WriteFile("p.hex", IntelHexText(0x1FB00, data)));
  Fill(0, 0x1FC00, 0x1FFFF, 0x77);
  Fill(1, 0x1FC00, 0x1FFFF, 0x88);
  ASSERT_EQ(write.Run(Settings(false, true, "00")), OperationOutcome::Completed);
  EXPECT_THAT(Changes(), ElementsAre("Erase 1F000", "Write 1FB00-1FBFF", "Write 1FC00-1FFFF", "Write 1FC00-1FFFF"));
  for (size_t n = 0; n < 2; ++n) {
    const std::vector<uint8_t>& m = api.memory[n];
    EXPECT_TRUE(std::equal(data.begin(), data.end(), m.begin() + 0x1FB00)) << n;
    const uint8_t kept = n == 0 ? 0x77 : 0x88;
    EXPECT_TRUE(std::all_of(m.begin() + 0x1FD00, m.end(), [kept](uint8_t b) { return b == kept; })) << n;
    EXPECT_TRUE(std::all_of(m.begin() + 0x1F000, m.begin() + 0x1FB00, [](uint8_t b) { return b == 0xFF; })) << n;
  }
  EXPECT_TRUE(api.enabled[0] && api.enabled[1]);
  EXPECT_TRUE(window.Logged("[1FC00H - 1FDFFH] : data"));

  // Boards that keep the same bytes are written together.
  api.calls.clear();
  Fill(1, 0x1FC00, 0x1FFFF, 0x77);
  ASSERT_EQ(write.Run(Settings(false, true, "00")), OperationOutcome::Completed);
  EXPECT_THAT(Changes(), ElementsAre("Erase 1F000", "Write 1FB00-1FBFF", "Write 1FC00-1FFFF"));
  EXPECT_EQ(api.memory[0], api.memory[1]);
}

TEST_F(WriteTest, AFailedSecondTargetEndsWithItsErrorLinesInsteadOfCompletion) {
  UseTwoTargets();
  ListTwoFiles();
  api.FailOn("Write", 2, 2, 0x6305);
  ASSERT_EQ(write.Run(Settings(true, true)), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Contains(StartsWith("Error: Target 2 (/sim/korvo-01) failed: ")));
  EXPECT_THAT(window.log, Not(Contains("Writing was completed normally. ")));
  EXPECT_EQ(window.log[window.log.size() - 2], "Error: Writing ended with errors on other targets. ");
  ASSERT_EQ(window.messages.back().textId, text::kFailedTargetsList);
  EXPECT_THAT(window.messages.back().text, HasSubstr("2 (/sim/korvo-01)"));
  EXPECT_EQ(api.memory[0][0x3000], Pattern(1, 2)[0]);
  EXPECT_EQ(api.memory[1][0x3000], 0xFF);
}

TEST_F(WriteTest, AFailedWriteOnTarget1ReportsAndStillJudgesTheOthers) {
  UseTwoTargets();
  ListTwoFiles();
  api.statuses[1] = 0x5003;
  api.FailOn("Write", 1, 1, 0x6305);
  window.onReport = [this](int) { std::fill(api.statuses.begin(), api.statuses.end(), 0); };
  ASSERT_EQ(write.Run(Settings(true, true)), OperationOutcome::Failed);
  EXPECT_THAT(window.reported, ElementsAre(0x6305));
  EXPECT_THAT(window.log, Contains("Error: The error occurred in flash memory writing process."));
  EXPECT_THAT(window.log, Contains(StartsWith("Error: Target 2 (/sim/korvo-01) failed: ")));
  EXPECT_THAT(window.log, Not(Contains("=========================")));
  EXPECT_EQ(window.busyKind, SessionEvent::kIdle);
}

TEST_F(WriteTest, AFileChangedOnDiskIsUsedOnlyAfterTheUserAgrees) {
  const std::string path = WriteFile("a.hex", IntelHexText(0x1000, Pattern(0x100, 1)));
  List(path);
  WriteFile("a.hex", IntelHexText(0x1000, Pattern(0x80, 9)));
  window.answers[text::kFileChanged] = false;
  EXPECT_EQ(write.Run(Settings(true, true)), OperationOutcome::NotStarted);
  EXPECT_THAT(window.TextIds(), ElementsAre(text::kStartWriting, text::kFileChanged));
  EXPECT_THAT(window.messages[1].text, HasSubstr(path));
  EXPECT_THAT(Changes(), IsEmpty());

  window.answers[text::kFileChanged] = true;
  ASSERT_EQ(write.Run(Settings(true, true)), OperationOutcome::Completed);
  EXPECT_THAT(Changes(), ElementsAre("Erase 01000", "Write 01000-0107F"));
  EXPECT_EQ(api.memory[0][0x1000], Pattern(1, 9)[0]);
  EXPECT_EQ(api.memory[0][0x1080], 0xFF);  // the row now ends where the file does
  EXPECT_FALSE(files.ContentOutdated(0));
}

}  // namespace
}  // namespace quarnel::testing
