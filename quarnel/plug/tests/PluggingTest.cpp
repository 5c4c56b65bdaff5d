#include "plug/Plugging.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>

#include "base/StatusMessages.h"
#include "base/StringTable.h"
#include "testing/FakeApi.h"
#include "testing/LockDirectory.h"
#include "testing/MemorySettings.h"
#include "testing/RecordingWindow.h"

namespace quarnel {
namespace {

using testing::Events;
using testing::FakeApi;
using testing::LockDirectory;
using testing::MemorySettings;
using testing::RecordingWindow;

class PluggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(lockDir_.path.empty());
    for (const char* name : {"KT51456", "KT4351235", "KT2321"}) {
      CTargetInfo& d = descriptions_.emplace_back();
      std::memset(&d, 0, sizeof d);
      std::strcpy(d.targetName, name);
      d.areaNum = 1;
      d.area[0] = {0, 0x1FFFF};
      d.blockSize = 0x800;
      d.targetId32 = 0x00010400;
      d.targetIdBitNum = 64;
    }
    set_.count = static_cast<int32_t>(descriptions_.size());
    set_.array = descriptions_.data();
    window_.plugging = &plugging_;
    window_.expectTableText = true;
    plugging_.SetDescriptions(&set_);
  }
  LockDirectory lockDir_;
  std::vector<CTargetInfo> descriptions_;
  TRGINFO set_{};
  FakeApi api_;
  MemorySettings settings_;
  RecordingWindow window_;
  Plugging plugging_{api_, settings_, window_, [this] { window_.AllocateBuffers(plugging_.Target().geometry); }};
};

// One start-up plug loop: what is remembered, how each plug ends, what the
// user picks in Select Target, and what the window is asked to show.
struct StartUpCase {
  const char* name;
  std::string remembered;
  std::deque<int> plugs;
  std::deque<std::optional<int32_t>> choices;
  bool aborted;
  std::vector<std::string> plugged;
  Events events;
  int32_t selected;
};

class StartUpPlugLoopTest : public PluggingTest, public ::testing::WithParamInterface<StartUpCase> {};

TEST_P(StartUpPlugLoopTest, Run) {
  const StartUpCase& c = GetParam();
  if (!c.remembered.empty()) settings_.values["TRGNAME"] = c.remembered;
  api_.plugStatuses = c.plugs;
  api_.productIdWord = 0x01004560;
  api_.firmwareText = "1.04";
  window_.targetChoices = c.choices;

  EXPECT_EQ(plugging_.RunStartUpPlugLoop(), c.aborted);
  EXPECT_EQ(api_.pluggedNames, c.plugged);
  EXPECT_EQ(window_.events, c.events);
  EXPECT_EQ(plugging_.SelectedTarget(), c.selected);
  if (!c.choices.empty()) {
    EXPECT_EQ(window_.offeredNames, (std::vector<std::string>{"KT51456", "KT4351235", "KT2321"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartUpPlugLoopTest,
    ::testing::Values(
        StartUpCase{"RememberedTargetPlugs", "KT2321", {0}, {}, false, {"KT2321"}, {}, 2},
        StartUpCase{"UnknownNameKeepsTheSelectionSilently", "KT9999", {0}, {}, false, {"KT51456"}, {}, 0},
        StartUpCase{"NothingRememberedAsksFirst", "", {0}, {1}, false, {"KT4351235"}, {"choose"}, 1},
        StartUpCase{"NothingRememberedAndExitAborts", "", {}, {std::nullopt}, true, {}, {"choose"}, 0},
        StartUpCase{"SecondMismatchShowsItsOwnMessage", "KT2321", {0x2002, 0x2002, 0}, {2, 0}, false,
                    {"KT2321", "KT2321", "KT51456"},
                    {"report 0x2000 KT51456.", "choose", "report 0x2002", "choose"}, 0},
        StartUpCase{"PlugAnswer630CIsAMismatch", "KT2321", {0x630C, 0}, {2}, false, {"KT2321", "KT2321"},
                    {"report 0x2002", "choose"}, 2},
        StartUpCase{"OldFirmwareEndsTheProgramWhateverIsChosen", "KT2321", {0x2004}, {1}, true, {"KT2321"},
                    {"report 0x2004 1.04", "choose"}, 1},
        StartUpCase{"OtherStatusIsReportedAsItself", "KT2321", {0x6300, 0}, {2}, false, {"KT2321", "KT2321"},
                    {"report 0x6300", "choose"}, 2},
        StartUpCase{"ExitAfterAFailedPlugAborts", "KT2321", {0x2002}, {std::nullopt}, true, {"KT2321"},
                    {"report 0x2000 KT51456.", "choose"}, 2}),
    [](const ::testing::TestParamInfo<StartUpCase>& info) { return std::string(info.param.name); });

TEST_F(PluggingTest, ChipNameComesFromTheSelectedDescriptionsProductId) {
  settings_.values["TRGNAME"] = "KT4351235";
  descriptions_[1].targetIdBitNum = 93;
  api_.plugStatuses = {0x2002};
  api_.productIdWord = 0x05001235;
  plugging_.RunStartUpPlugLoop();
  EXPECT_EQ(api_.productIdBits, 93u);
  ASSERT_FALSE(window_.events.empty());
  EXPECT_EQ(window_.events.front(), "report 0x2000 KT4351235.");
}

// After "The target LSI has changed to X" Select Target opens on the
// description named X; before the chip is identified, and when no
// description has its name, on the first entry.
TEST_F(PluggingTest, SelectTargetOpensOnTheIdentifiedChip) {
  struct Case {
    const char* name;
    bool button;
    std::string remembered;
    uint32_t productId;
    std::deque<int> plugs;
    std::deque<std::optional<int32_t>> choices;
    std::vector<int32_t> openedOn;
  } cases[] = {
      {"start-up, chip of the second description", false, "KT51456", 0x05001235, {0x2002, 0}, {1}, {1}},
      {"start-up, chip of the third description", false, "KT51456", 0x04003210, {0x2002, 0}, {2}, {2}},
      {"a wrong pick is offered the chip again", false, "KT2321", 0x05001235, {0x2002, 0x2002, 0}, {2, 1}, {1, 1}},
      {"nothing remembered: the chip is not known yet", false, "", 0x05001235, {0x2002, 0}, {2, 1}, {0, 1}},
      {"no description of the chip", false, "KT2321", 0x07000ABC, {0x2002, 0}, {1}, {0}},
      {"another failure names no chip", false, "KT2321", 0x05001235, {0x6300, 0}, {2}, {0}},
      {"plug button", true, "KT51456", 0x04003210, {0x2002, 0}, {2}, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    settings_.values["TRGNAME"] = c.remembered;
    api_.productIdWord = c.productId;
    api_.plugStatuses = c.plugs;
    window_.targetChoices = c.choices;
    window_.openedOn.clear();
    if (c.button) {
      plugging_.GoUnplugged(false);
      plugging_.PlugOrUnplug();
      EXPECT_TRUE(plugging_.Plugged());
    } else {
      EXPECT_FALSE(plugging_.RunStartUpPlugLoop());
    }
    EXPECT_EQ(window_.openedOn, c.openedOn);
    EXPECT_TRUE(window_.targetChoices.empty());
  }
}

TEST_F(PluggingTest, ButtonPlugAppliesTheTargetAndTakesThePluggedState) {
  plugging_.GoUnplugged(false);
  settings_.values["TRGNAME"] = "KT4351235";
  window_.events.clear();
  plugging_.PlugOrUnplug();
  EXPECT_TRUE(plugging_.Plugged());
  EXPECT_EQ(window_.events, (Events{"select 1", "buffers", "idle 2", "caption Un&plug", "file buttons", "recheck",
                                    "erase list"}));
  EXPECT_EQ(window_.writeImageSize, 0x20000u);
  EXPECT_EQ(window_.eraseRows, 64u);
  EXPECT_EQ(plugging_.Target().endAddressText, "1FFFFH");
  // The lock is held while plugged, and released by unplugging.
  NamedLock other(kKorvoLockName);
  EXPECT_FALSE(other.Acquire(std::chrono::milliseconds(0)));
  window_.questionAnswers = {true};
  plugging_.PlugOrUnplug();
  EXPECT_FALSE(plugging_.Plugged());
  EXPECT_EQ(api_.resets, 1);
  EXPECT_TRUE(other.Acquire(std::chrono::milliseconds(0)));
}

TEST_F(PluggingTest, ExitInSelectTargetAfterAFailedButtonPlugEndsTheProgram) {
  plugging_.GoUnplugged(false);
  window_.events.clear();
  api_.plugStatuses = {0x2002, 0x2002};
  window_.targetChoices = {1, std::nullopt};
  plugging_.PlugOrUnplug();
  EXPECT_EQ(window_.events, (Events{"report 0x2000 KT430000.", "choose", "report 0x2002", "choose", "close"}));
  EXPECT_EQ(api_.resets, 0);  // never plugged, nothing to reset
  EXPECT_EQ(settings_.values["TRGNAME"], "KT4351235");
  NamedLock other(kKorvoLockName);
  EXPECT_TRUE(other.Acquire(std::chrono::milliseconds(0)));
}

TEST_F(PluggingTest, FailedSecurityCheckAfterAButtonPlugStaysUnplugged) {
  plugging_.GoUnplugged(false);
  window_.events.clear();
  api_.isProtected = true;
  api_.protectedStatus = 0x6300;
  plugging_.PlugOrUnplug();
  EXPECT_FALSE(plugging_.Plugged());
  EXPECT_EQ(window_.events, (Events{"select 0", "report 0x6300"}));
  NamedLock other(kKorvoLockName);
  EXPECT_TRUE(other.Acquire(std::chrono::milliseconds(0)));
}

TEST_F(PluggingTest, ExitInTheSecurityDialogQuits) {
  plugging_.GoUnplugged(false);
  window_.events.clear();
  api_.isProtected = true;
  plugging_.PlugOrUnplug();
  EXPECT_EQ(window_.events, (Events{"select 0", "security dialog", "close"}));
}

// Only a passed check lets the further targets' protection be read, which
// opens their flash to the all-target operations.
TEST_F(PluggingTest, APassedSecurityCheckReadsTheProtectionOfEveryFurtherTarget) {
  api_.SetTargetCount(3);
  EXPECT_EQ(plugging_.RunSecurityCheck(), SecurityCheckResult::Passed);
  EXPECT_EQ(api_.protectionAsked, (std::vector<uint32_t>{2, 3}));
  api_.protectionAsked.clear();
  api_.isProtected = true;
  api_.protectedStatus = 0x6300;
  EXPECT_EQ(plugging_.RunSecurityCheck(), SecurityCheckResult::Failed);
  EXPECT_TRUE(api_.protectionAsked.empty());
}

TEST_F(PluggingTest, ChangeOfTargetToAnotherChipAlwaysNamesTheChipAndUnplugs) {
  api_.checkTargetStatus = 0x2002;
  api_.productIdWord = 0x0A000120;
  plugging_.ChangeTarget(2);
  plugging_.ChangeTarget(-1);
  EXPECT_EQ(api_.pluggedNames, (std::vector<std::string>{"KT2321", "KT51456"}));
  const Events once = {"report 0x2000 KT430012.", "busy 2", "caption &Plug", "erase list"};
  Events twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(window_.events, twice);
  EXPECT_EQ(api_.resets, 2);
  EXPECT_FALSE(plugging_.Plugged());
  EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
}

TEST_F(PluggingTest, ChangeOfTargetToTheRightChipRunsTheSecurityCheck) {
  descriptions_[1].area[0] = {0, 0xFFFF};
  plugging_.ChangeTarget(1);
  EXPECT_EQ(window_.events, (Events{"buffers", "recheck", "erase list"}));
  EXPECT_EQ(window_.eraseRows, 32u);
  EXPECT_EQ(window_.writeImageSize, 0x10000u);
  EXPECT_EQ(settings_.values["TRGNAME"], "KT4351235");
}

// Every further target is checked and described afresh, whatever status an
// earlier plug left it with; one with another chip or too old a firmware
// fails on its own.
TEST_F(PluggingTest, ChangeOfTargetDescribesEveryTargetAndFailsOnlyTheOnesThatDoNotFit) {
  api_.SetTargetCount(4);
  api_.statuses = {0, 0x2002, 0x2002, 0x2004};
  api_.otherChips = {3};
  api_.oldFirmware = {4};
  plugging_.ChangeTarget(1);
  EXPECT_TRUE(plugging_.Plugged());
  EXPECT_EQ(window_.events, (Events{"buffers", "recheck", "erase list"}));
  EXPECT_EQ(api_.pluggedNames, (std::vector<std::string>{"KT4351235"}));
  EXPECT_EQ(api_.described, (std::map<uint32_t, std::string>{{2, "KT4351235"}, {4, "KT4351235"}}));
  EXPECT_EQ(api_.TargetStatus(2), 0);
  EXPECT_EQ(api_.TargetStatus(3), 0x2002);
  EXPECT_EQ(api_.TargetStatus(4), 0x2004);
  // The failed target stays out of the security check.
  EXPECT_EQ(api_.protectionAsked, (std::vector<uint32_t>{2}));
}

TEST_F(PluggingTest, WithoutDescriptionsNothingIsPluggedOrApplied) {
  plugging_.ChangeTarget(7);  // not in the list: the first description
  EXPECT_EQ(plugging_.SelectedTarget(), 0);
  plugging_.SetDescriptions(nullptr);
  EXPECT_TRUE(plugging_.RunStartUpPlugLoop());
  plugging_.ChangeTarget(1);
  plugging_.ApplySelectedTarget();
  EXPECT_EQ(plugging_.SelectedDescription(), nullptr);
  EXPECT_EQ(api_.pluggedNames, (std::vector<std::string>{"KT51456"}));
  EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
}

TEST_F(PluggingTest, ApplyingATargetWithoutAreasKeepsTheRememberedNameAndTable) {
  plugging_.ApplySelectedTarget();
  EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
  descriptions_[2].areaNum = 0;
  plugging_.ChangeTarget(2);
  EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
  EXPECT_EQ(plugging_.Target().eraseBlocks.size(), 64u);
  EXPECT_EQ(plugging_.Target().geometry.flashHigh, 0u);
}

TEST_F(PluggingTest, CodeBlocksAbove64KiBAreReportedAndAppliedAnyway) {
  descriptions_[0].targetId00 = 1u << 30;  // extended format
  descriptions_[0].targetId32 = 0x00060100;  // S = 2048 << 6 = 128 KiB
  plugging_.ApplySelectedTarget();
  EXPECT_EQ(window_.events, (Events{"stop 2069"}));
  EXPECT_EQ(plugging_.Target().geometry.codeBlockSize, 0x20000u);
  EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
}

struct UnplugCase {
  const char* name;
  int resetStatus;
  Events events;
};

class GoUnpluggedTest : public PluggingTest, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(GoUnpluggedTest, ResetsAndReportsAFailureOtherThanStatusOne) {
  api_.resetStatus = GetParam().resetStatus;
  plugging_.GoUnplugged(true);
  EXPECT_EQ(window_.events, GetParam().events);
  EXPECT_EQ(settings_.values["TRGNAME"], "KT51456");
  EXPECT_FALSE(plugging_.Plugged());
}

INSTANTIATE_TEST_SUITE_P(Cases, GoUnpluggedTest,
                         ::testing::Values(UnplugCase{"ResetWorks", 0, {"busy 2", "caption &Plug"}},
                                           UnplugCase{"StatusOneIsNotShown", 1, {"busy 2", "caption &Plug"}},
                                           // Shown only: no second unplug for the fatal status.
                                           UnplugCase{"OtherStatusIsShown", 0x6302, {"stop 137", "busy 2", "caption &Plug"}}),
                         [](const ::testing::TestParamInfo<UnplugCase>& info) { return std::string(info.param.name); });

TEST_F(PluggingTest, QuitResetsOnlyWhilePluggedAndTheLinkHolds) {
  api_.statuses[0] = 0x5001;
  plugging_.Quit();
  EXPECT_EQ(api_.resets, 0);
  api_.statuses[0] = 0;
  plugging_.Quit();
  EXPECT_EQ(api_.resets, 1);
  EXPECT_EQ(window_.events, (Events{"close", "close"}));
}

// The library's reason, when it gives one, goes under the text of 193 in
// the same box.
TEST_F(PluggingTest, NoEmulatorWarnsWithTheLibrarysReasonBelow) {
  struct Case {
    std::string reason;
    std::string event;
  };
  const Case cases[] = {
      {"", "warning 193"},
      {"No emulator with a configured USB ID (f055:4b56) is attached.",
       "warning 193\nNo emulator with a configured USB ID (f055:4b56) is attached."},
      {"No emulator sockets (korvo-NN) in /tmp/s (KORVO_SIM_DIR).",
       "warning 193\nNo emulator sockets (korvo-NN) in /tmp/s (KORVO_SIM_DIR)."},
  };
  api_.connectResult = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    window_.events.clear();
    api_.noEmulatorReason = c.reason;
    for (const auto variant : {Plugging::Variant::StartUp, Plugging::Variant::Button})
      EXPECT_FALSE(plugging_.Connect(variant));
    EXPECT_EQ(window_.events, (Events{c.event, c.event}));
  }
}

// Listed but not opened (no permission, in use): the plug ends with 0x5005,
// whose box says why.
TEST_F(PluggingTest, EmulatorThatCouldNotBeOpenedIsReportedWithTheReason) {
  settings_.values["TRGNAME"] = "KT2321";
  api_.plugStatuses = {0x5005, 0x5005};
  window_.targetChoices = {2, std::nullopt};
  api_.noEmulatorReason =
      "No permission to open the emulator at usb:1-4.2 (/dev/bus/usb/001/003): a udev rule must give the user access "
      "to it (see quarnel-cli udev-rule).\nThe emulator at usb:1-3 is in use by another program.";
  EXPECT_TRUE(plugging_.RunStartUpPlugLoop());
  const std::string report = "report 0x5005 \n" + api_.noEmulatorReason;
  EXPECT_EQ(window_.events,
            (Events{report, "busy 2", "caption &Plug", "choose", report, "busy 2", "caption &Plug", "choose"}));

  window_.events.clear();
  api_.noEmulatorReason.clear();
  api_.plugStatuses = {0x5005};
  EXPECT_TRUE(plugging_.RunStartUpPlugLoop());
  EXPECT_EQ(window_.events.front(), "report 0x5005");
}

// A process that holds the KORVO access lock until it is killed.
pid_t HoldKorvoLockInChild() {
  int ready[2];
  EXPECT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    NamedLock lock(kKorvoLockName);
    const char byte = lock.Acquire(std::chrono::milliseconds(0)) ? 'y' : 'n';
    (void)!write(ready[1], &byte, 1);
    pause();
    _exit(0);
  }
  char byte = 0;
  EXPECT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  close(ready[0]);
  close(ready[1]);
  return pid;
}

TEST_F(PluggingTest, ConnectGivesUpAfterThreeSecondsWhileAnotherProcessHoldsTheLock) {
  const pid_t holder = HoldKorvoLockInChild();
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(plugging_.Connect(Plugging::Variant::StartUp));
  const auto waited = std::chrono::steady_clock::now() - begin;
  EXPECT_GE(waited, std::chrono::milliseconds(3000));
  EXPECT_LT(waited, std::chrono::milliseconds(4500));
  // The box's text is that of "not connected"; the failure says which it was.
  EXPECT_EQ(plugging_.LastConnectFailure(), Plugging::ConnectFailure::LockBusy);
  EXPECT_EQ(window_.events, (Events{"stop 193", "busy 2", "caption &Plug"}));
  EXPECT_FALSE(plugging_.Plugged());

  // On the button, 0x5005 reports the same text and unplugs without a reset.
  window_.events.clear();
  EXPECT_FALSE(plugging_.Connect(Plugging::Variant::Button));
  EXPECT_EQ(window_.events, (Events{"report 0x5005", "busy 2", "caption &Plug"}));
  EXPECT_EQ(api_.resets, 0);
  EXPECT_EQ(LoadText(StatusTextId(0x5005)), LoadText(2039));
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
}

TEST(EraseBlockRowTexts, NumbersFromOneAndMarksUnavailableBlocks) {
  EXPECT_EQ(EraseBlockRowTexts(0, {0, 0x7FF, 0, 1}),
            (std::vector<std::string>{"", "1", "00000H", "007FFH", "             "}));
  EXPECT_EQ(EraseBlockRowTexts(63, {0x1F800, 0x1FFFF, 1, 0}),
            (std::vector<std::string>{"", "64", "1F800H", "1FFFFH", "Not Available"}));
}

}  // namespace
}  // namespace quarnel
