#include <gmock/gmock.h>

#include "ops/EraseOperation.h"
#include "ops/VerifyOperation.h"
#include "ops/tests/OpsFixture.h"

namespace quarnel::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

// Two rows: one file with bytes on both sides of the hole at 8000-8FFF, and
// one whose window runs 256 bytes past its data. Target 1 holds the files
// with one wrong byte in each row, a byte of the hole changed and a byte
// beyond the second file's data set.
class VerifyTest : public OpsTest {
 protected:
  void SetUp() override {
    std::vector<uint8_t> text = Pattern(0x100, 1);
    std::string hex = IntelHexText(0x7F00, text);
    hex = hex.substr(0, hex.rfind(":00000001FF")) + IntelHexText(0x9000, Pattern(0x100, 2));
    List(WriteFile("split.hex", hex));
    List(WriteFile("b.hex", IntelHexText(0x1000, Pattern(0x100, 3))), "11FF");
    Store(0, 0x7F00, Pattern(0x100, 1));
    Store(0, 0x9000, Pattern(0x100, 2));
    Store(0, 0x1000, Pattern(0x100, 3));
    api.memory[0][0x7F10] ^= 0xFF;
    api.memory[0][0x8800] = 0x12;
    api.memory[0][0x1010] = 0x00;
    api.memory[0][0x1180] = 0x00;
  }
  VerifySettings Settings(std::string fill) {
    VerifySettings settings;
    settings.fillMode = fill.empty() ? FillMode::FlashContent : FillMode::ArbitraryData;
    settings.arbitraryData = std::move(fill);
    return settings;
  }
  std::string DifferenceLine(uint32_t address, uint8_t file, uint8_t flash) {
    char line[64];
    std::snprintf(line, sizeof line, " %05XH    %02XH       %02XH", address, file, flash);
    return line;
  }
  std::vector<std::string> LogFrom(const std::string& first) {
    auto it = std::find(window.log.begin(), window.log.end(), first);
    return {it, window.log.end()};
  }
  VerifyOperation verify{context};
};

TEST_F(VerifyTest, ArbitraryFillListsEachRowsDifferencesAndNeverTheHole) {
  ASSERT_EQ(verify.Run(Settings("FF")), OperationOutcome::Completed);
  ASSERT_FALSE(window.log.empty());
  EXPECT_TRUE(window.log[0].starts_with("Verification  "));
  const uint8_t good7F10 = Pattern(0x100, 1)[0x10];
  EXPECT_THAT(LogFrom("  Filename for verification : " + directory + "/split.hex"),
              ElementsAre("  Filename for verification : " + directory + "/split.hex",
                          "  File: [07F00H - 090FFH] <--> Flash: [07F00H - 090FFH]", "  Fill Data: FFH",
                          " Address   File      Flash", "==========================",
                          DifferenceLine(0x7F10, good7F10, good7F10 ^ 0xFF), "1 differences were detected. ",
                          "  Filename for verification : " + directory + "/b.hex",
                          "  File: [01000H - 011FFH] <--> Flash: [01000H - 011FFH]", "  Fill Data: FFH",
                          " Address   File      Flash", "==========================",
                          DifferenceLine(0x1010, Pattern(0x100, 3)[0x10], 0x00), DifferenceLine(0x1180, 0xFF, 0x00),
                          "2 differences were detected. ", "Verification was completed. ",
                          "========================="));
  EXPECT_THAT(window.layouts, ElementsAre("busy 0", "idle 0"));
  EXPECT_EQ(window.busyKind, SessionEvent::kIdle);
}

TEST_F(VerifyTest, FlashContentFillComparesOnlyTheFileBytes) {
  ASSERT_EQ(verify.Run(Settings("")), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Contains("  Fill Data: Content of flash memory"));
  EXPECT_THAT(window.log, Contains(DifferenceLine(0x1010, Pattern(0x100, 3)[0x10], 0x00)));
  EXPECT_THAT(window.log, Not(Contains(DifferenceLine(0x1180, 0xFF, 0x00))));
  EXPECT_THAT(window.log, Not(Contains(DifferenceLine(0x1180, 0x00, 0x00))));
}

TEST_F(VerifyTest, CancelDuringTheLoadPassLogsOnlyTheEndLines) {
  window.cancelAtDrain = 2;
  ASSERT_EQ(verify.Run(Settings("FF")), OperationOutcome::Cancelled);
  EXPECT_THAT(window.log, ElementsAre("Verification was interrupted. ", "========================="));
  EXPECT_FALSE(window.cancel);
}

TEST_F(VerifyTest, FurtherTargetsGetTheirOwnListing) {
  UseTwoTargets();
  api.memory[0][0x7F10] ^= 0xFF;
  api.memory[0][0x1010] = Pattern(0x100, 3)[0x10];
  api.memory[0][0x1180] = 0xFF;
  api.memory[1][0x1010] = Pattern(0x100, 3)[0x10];
  ASSERT_EQ(verify.Run(Settings("")), OperationOutcome::Completed);
  const std::vector<std::string> second = LogFrom("Verification of target 2 (/sim/korvo-01)");
  ASSERT_FALSE(second.empty());
  EXPECT_THAT(std::vector<std::string>(window.log.begin(), window.log.end() - second.size()),
              Not(Contains(" Address   File      Flash")));
  const uint8_t good7F10 = Pattern(0x100, 1)[0x10];
  EXPECT_THAT(second, Contains(DifferenceLine(0x7F10, good7F10, good7F10 ^ 0xFF)));
  EXPECT_THAT(second, Contains("1 differences were detected. "));
  EXPECT_THAT(second, Contains("No differences were detected."));
  EXPECT_EQ(second[second.size() - 2], "Verification was completed. ");
}

TEST_F(VerifyTest, CountsEachTargetAndTakesEachTargetsOwnExpectedBytes) {
  UseTwoTargets();
  api.memory[1][0x9010] ^= 0xFF;
  VerifySettings settings = Settings("FF");
  ASSERT_EQ(verify.Run(settings), OperationOutcome::Completed);
  const uint64_t base = verify.DifferencesByTarget().at(0);
  EXPECT_EQ(verify.DifferencesByTarget(), (std::vector<uint64_t>{base, base + 1}));
  std::vector<uint32_t> adjusted;
  settings.adjustExpected = [&adjusted](uint32_t target, std::span<uint8_t> expected) {
    adjusted.push_back(target);
    if (target == 2) expected[0x9010] ^= 0xFF;
  };
  ASSERT_EQ(verify.Run(settings), OperationOutcome::Completed);
  EXPECT_EQ(adjusted, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(verify.DifferencesByTarget(), (std::vector<uint64_t>{base, base}));
}

TEST_F(VerifyTest, CompareRangeStaysInsideTheFlashAndAnswersCancel) {
  ASSERT_EQ(verify.Run(Settings("")), OperationOutcome::Completed);
  window.log.clear();
  std::span<uint8_t> expected = buffers.WriteImage();
  std::fill(expected.begin(), expected.end(), 0x00);
  long differences = 0;
  ASSERT_TRUE(verify.CompareRange(0x7FFF, 0x9000, differences));
  EXPECT_EQ(differences, 2);  // 7FFF and 9000; the hole in between is not flash
  EXPECT_TRUE(verify.CompareRange(0x20000, 0x30000, differences));
  EXPECT_EQ(differences, 0);
  window.cancel = true;
  EXPECT_FALSE(verify.CompareRange(0, 0x1FDFF, differences));
}

TEST(EraseBlockListTest, UnavailableBlocksCannotBeTickedAndSelectAllToggles) {
  EraseBlockTable table(4);
  table[0].available = table[1].available = table[3].available = 1;
  std::vector<bool> ticks{false, false, true, false};
  EXPECT_FALSE(ApplyEraseTicks(table, ticks));
  EXPECT_THAT(ticks, ElementsAre(false, false, false, false));
  ticks = {false, true, true, false};
  EXPECT_TRUE(ApplyEraseTicks(table, ticks));
  EXPECT_THAT(ticks, ElementsAre(false, true, false, false));

  EXPECT_TRUE(SelectAllEraseBlocks(table, ticks));
  EXPECT_THAT(ticks, ElementsAre(true, true, false, true));
  EXPECT_EQ(table[2].selected, 0);
  EXPECT_FALSE(SelectAllEraseBlocks(table, ticks));
  EXPECT_THAT(ticks, ElementsAre(false, false, false, false));
  EXPECT_TRUE(std::all_of(table.begin(), table.end(), [](const EraseBlock& b) { return b.selected == 0; }));
}

class EraseTest : public OpsTest {
 protected:
  EraseOperation erase{context};
};

TEST_F(EraseTest, OnlyTheLastCodeBlockKeepsItsPreservedArea) {
  Fill(0, 0x3000, 0x3FFF, 0x33);
  Fill(0, 0x1F000, 0x1FFFF, 0x33);
  target.eraseBlocks[3].selected = 1;
  target.eraseBlocks[0x1F].selected = 1;
  ASSERT_EQ(erase.Run(), OperationOutcome::Completed);
  EXPECT_THAT(api.calls, ElementsAre("Erase 03000", "ReadBlock 1 1F000", "Erase 1F000", "Write 1FC00-1FFFF"));
  const auto& m = api.memory[0];
  EXPECT_TRUE(std::all_of(m.begin() + 0x3000, m.begin() + 0x4000, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(m.begin() + 0x1F000, m.begin() + 0x1FC00, [](uint8_t b) { return b == 0xFF; }));
  // The preserved area and the reserved tail come back.
  EXPECT_TRUE(std::all_of(m.begin() + 0x1FC00, m.begin() + 0x20000, [](uint8_t b) { return b == 0x33; }));
  EXPECT_EQ(window.log.front(), "Erasing block# :  4 32 ");
  EXPECT_EQ(window.log[window.log.size() - 2], "Erasing was completed normally. ");
  EXPECT_THAT(window.layouts, ElementsAre("busy 1", "idle 1"));
}

TEST_F(EraseTest, CancelBetweenBlocksKeepsWhatWasErased) {
  target.eraseBlocks[1].selected = 1;
  target.eraseBlocks[2].selected = 1;
  window.cancelAtDrain = 3;
  ASSERT_EQ(erase.Run(), OperationOutcome::Cancelled);
  EXPECT_THAT(api.calls, ElementsAre("Erase 01000"));
  EXPECT_EQ(window.log.front(), "Erasing block# :  2 3 ");
  const std::vector<std::string> tail(window.log.end() - 2, window.log.end());
  EXPECT_THAT(tail, ElementsAre("Erasing was interrupted. ", "========================="));
}

TEST_F(EraseTest, AFailedEraseStopsWithItsErrorLineAndNoEndLines) {
  UseTwoTargets();
  target.eraseBlocks[1].selected = 1;
  target.eraseBlocks[2].selected = 1;
  api.FailOn("Erase", 2, 2, 0x6306);
  ASSERT_EQ(erase.Run(), OperationOutcome::Completed);
  EXPECT_THAT(window.log, Contains(::testing::StartsWith("Error: Target 2 (/sim/korvo-01) failed: ")));
  EXPECT_EQ(window.log[window.log.size() - 2], "Error: Erasing ended with errors on other targets. ");

  window.log.clear();
  api.statuses[1] = 0;
  api.FailOn("Erase", 1, 1, 0x6306);
  ASSERT_EQ(erase.Run(), OperationOutcome::Failed);
  EXPECT_THAT(window.reported, ElementsAre(0x6306));
  EXPECT_EQ(window.log.back(), "Error: The error occurred in flash memory erasing process.");
  EXPECT_THAT(window.layouts.back(), "idle 1");
}

}  // namespace
}  // namespace quarnel::testing
