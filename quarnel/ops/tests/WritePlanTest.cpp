// The write planner on its own: ranges in, erase and write steps out.
#include "ops/WritePlan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace quarnel {
namespace {

using ::testing::ElementsAreArray;

// 4 KiB blocks, 32 code blocks, 512-byte preserved area and tail; flash
// [0, 7FFF] and [9000, 1FDFF]: block 8 has no flash, the second area ends
// at the tail.
struct Target {
  Target() {
    geometry.SetFlashAreas({{0x0000, 0x7FFF}, {0x9000, 0x1FDFF}});
    geometry.eraseBlockSize = 0x1000;
    geometry.codeBlockCount = 0x20;
    geometry.codeBlockSize = 0x1000;
    geometry.reservedTailSize = 0x200;
    geometry.preservedSize = 0x200;
    for (uint32_t start = 0; start < 0x20000; start += 0x1000)
      blocks.push_back({start, start + 0xFFF, 0, geometry.AnyAreaIntersects(start, start + 0xFFF) ? 1 : 0});
  }
  TargetGeometry geometry;
  EraseBlockTable blocks;
};

// "E1F000 W1F000-1F0FF W1FC00-1FFFF" for the steps, "1F000-1F0FF" for the records.
std::string Describe(const std::vector<WriteStep>& steps, bool records) {
  std::string text;
  char part[40];
  for (const WriteStep& step : steps) {
    if (!records && step.erase) {
      std::snprintf(part, sizeof part, "E%05X ", static_cast<unsigned>(step.eraseAddress));
      text += part;
    }
    for (const AddressRange& w : step.windows) {
      if (records) break;
      std::snprintf(part, sizeof part, "W%05X-%05X ", static_cast<unsigned>(w.first), static_cast<unsigned>(w.last));
      text += part;
    }
    for (const WrittenRange& r : step.records) {
      if (!records) break;
      std::snprintf(part, sizeof part, "%05X-%05X ", static_cast<unsigned>(r.start), static_cast<unsigned>(r.end));
      text += part;
    }
  }
  if (!text.empty()) text.pop_back();
  return text;
}

struct PlanCase {
  const char* name;
  std::vector<WriteRange> ranges;
  WritePlanOptions options;
  std::string steps;
  std::string records;
};

TEST(WritePlan, StepsFollowTheEraseFillAndPreservedAreaRules) {
  const std::vector<PlanCase> cases = {
      {"files only", {{"a", 0x1000, 0x10FF}}, {true, true}, "E01000 W01000-010FF", "01000-010FF"},
      {"every block from the first to the last file, in full",
       {{"a", 0x1000, 0x10FF}, {"b", 0x3000, 0x30FF}},
       {true, false},
       "E01000 W01000-01FFF E02000 W02000-02FFF E03000 W03000-03FFF",
       "01000-01FFF 02000-02FFF 03000-03FFF"},
      {"a block without flash is left out",
       {{"a", 0x7000, 0x70FF}, {"b", 0x9000, 0x90FF}},
       {false, false},
       "W07000-07FFF W09000-09FFF",
       "07000-07FFF 09000-09FFF"},
      {"an erased last block gets its preserved area and tail back",
       {{"a", 0x1F000, 0x1F0FF}},
       {true, true},
       "E1F000 W1F000-1F0FF W1FC00-1FFFF",
       "1F000-1F0FF 1FC00-1FDFF"},
      {"without erasing, the last block stops below the preserved area",
       {{"a", 0x1F000, 0x1F0FF}},
       {false, false},
       "W1F000-1FBFF",
       "1F000-1FBFF"},
      {"a file in the preserved area erases the last block all the same",
       {{"a", 0x1FB00, 0x1FCFF}},
       {false, true},
       "E1F000 W1FB00-1FBFF W1FC00-1FFFF",
       "1FB00-1FBFF 1FC00-1FDFF"},
      {"in full, an erased last block is written through its tail",
       {{"a", 0x1F000, 0x1F0FF}},
       {true, false},
       "E1F000 W1F000-1FFFF",
       "1F000-1FDFF"},
  };
  const Target target;
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<WriteStep> steps = PlanWriteSteps(c.ranges, target.geometry, target.blocks, c.options);
    EXPECT_EQ(Describe(steps, false), c.steps);
    EXPECT_EQ(Describe(steps, true), c.records);
  }
}

TEST(WritePlan, TellsWhetherTheStepsWriteARange) {
  const Target target;
  const std::vector<WriteStep> steps =
      PlanWriteSteps({{"a", 0x1000, 0x10FF}, {"b", 0x1100, 0x11FF}}, target.geometry, target.blocks, {true, true});
  EXPECT_TRUE(PlanWrites(steps, 0x10FE, 0x1101));  // across two windows
  EXPECT_FALSE(PlanWrites(steps, 0x11FE, 0x1201));
  EXPECT_FALSE(PlanWrites(steps, 0x3000, 0x3003));
}

}  // namespace
}  // namespace quarnel
