#include "plug/SecurityCheck.h"

#include <gtest/gtest.h>

#include <deque>

#include "testing/FakeApi.h"
#include "testing/MemorySettings.h"

namespace quarnel {
namespace {

using testing::FakeApi;
using testing::MemorySettings;

class ScriptedPrompt : public SecurityPrompt {
 public:
  std::deque<std::optional<SecurityEntry>> answers;
  std::vector<uint16_t> typesShown;
  std::vector<int> reported;

  std::optional<SecurityEntry> AskSecurityId(uint16_t type) override {
    typesShown.push_back(type);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ReportStatus(int status) override { reported.push_back(status); }
};

SecurityEntry Entered(std::initializer_list<const char*> filled) {
  SecurityEntry entry;
  entry.texts.fill("    ");
  size_t k = 0;
  for (const char* text : filled) entry.texts[k++] = text;
  return entry;
}

SecurityEntry Initialize() {
  SecurityEntry entry = Entered({"1234"});
  entry.choice = SecurityEntry::kInitializeFlash;
  return entry;
}

using Words = std::vector<uint16_t>;
using Values = std::map<std::string, std::string>;

// One run of the check: the chip, what is remembered, what the user enters,
// and what the check must send, show, report and remember.
struct CheckCase {
  const char* name;
  bool isProtected;
  Words unlockingId;
  Values remembered;
  std::vector<std::optional<SecurityEntry>> answers;
  SecurityCheckResult result;
  std::vector<Words> sent;
  size_t dialogs;
  std::vector<int> reported;
  Values settingsAfter;  // empty: the settings are not written at all
  int chipErases = 0;
};

class SecurityCheckTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(SecurityCheckTest, Run) {
  const CheckCase& c = GetParam();
  FakeApi api;
  api.isProtected = c.isProtected;
  api.unlockingId = c.unlockingId;
  api.securityType = 2;
  MemorySettings settings;
  settings.values = c.remembered;
  ScriptedPrompt prompt;
  prompt.answers.assign(c.answers.begin(), c.answers.end());

  EXPECT_EQ(SecurityCheck(api, settings, prompt).Run(), c.result);
  EXPECT_EQ(api.sentIds, c.sent);
  EXPECT_EQ(prompt.typesShown.size(), c.dialogs);
  EXPECT_EQ(prompt.reported, c.reported);
  EXPECT_EQ(api.chipErases, c.chipErases);
  if (c.settingsAfter.empty())
    EXPECT_EQ(settings.writes, 0);
  else
    EXPECT_EQ(settings.values, c.settingsAfter);
}

const std::string k48F(48, 'F');

INSTANTIATE_TEST_SUITE_P(
    Cases, SecurityCheckTest,
    ::testing::Values(
        CheckCase{"UnprotectedShowsNoDialogAndLeavesTheSettings", false, {}, {{"SECUREID", "1234"}}, {},
                  SecurityCheckResult::Passed, {}, 0, {}, {}},
        CheckCase{"RememberedIdUnlocksWithoutDialog", true, {1, 2, 3, 4},
                  {{"SECUREID", "0001000200030004"}, {"SECUREIDSIZE", "8"}}, {},
                  SecurityCheckResult::Passed, {{1, 2, 3, 4}}, 0, {}, {}},
        CheckCase{"MissingSizeMeansFourBytes", true, {0x0001, 0x0002}, {{"SECUREID", "00010002"}}, {},
                  SecurityCheckResult::Passed, {{1, 2}}, 0, {}, {}},
        CheckCase{"FourDigitsWithSizeEightSendThreeZeroWordsFirst", true, {0, 0, 0, 0xABCD},
                  {{"SECUREID", "ABCD"}, {"SECUREIDSIZE", "8"}}, {},
                  SecurityCheckResult::Passed, {{0, 0, 0, 0xABCD}}, 0, {}, {}},
        CheckCase{"FourFieldsFilledUnlockAndAreRemembered", true, {0x1234, 0x5678, 0x9ABC, 0xDEF0},
                  {{"SECUREID", "0BAD"}}, {Entered({"1234", "5678", "9abc", "DEF0"})},
                  SecurityCheckResult::Passed, {{0, 0x0BAD}, {0x1234, 0x5678, 0x9ABC, 0xDEF0}}, 1, {},
                  {{"SECUREID", "123456789ABCDEF0"}, {"SECUREIDSIZE", "8"}}},
        CheckCase{"BlankInsideAFieldEndsTheIdBeforeIt", true, {0x1234}, {},
                  {Entered({"1234", "5 78", "9ABC"})}, SecurityCheckResult::Passed, {{0x1234}}, 1, {},
                  {{"SECUREID", "1234"}, {"SECUREIDSIZE", "2"}}},
        CheckCase{"WrongIdIsReportedAndAskedAgain", true, {0x4321}, {},
                  {Entered({"1234"}), Entered({"4321"})}, SecurityCheckResult::Passed, {{0x1234}, {0x4321}}, 2,
                  {0x2001}, {{"SECUREID", "4321"}, {"SECUREIDSIZE", "2"}}},
        CheckCase{"EmptyFirstFieldSendsNoWords", true, {0x1111}, {}, {Entered({}), std::nullopt},
                  SecurityCheckResult::ExitRequested, {{}}, 2, {0x2001}, {}},
        CheckCase{"InitializeErasesAndRemembersTheErasedId", true, {0x1111}, {{"SECUREID", "1234"}},
                  {Initialize()}, SecurityCheckResult::Passed, {{0, 0x1234}}, 1, {},
                  {{"SECUREID", k48F}, {"SECUREIDSIZE", "24"}}, 1},
        CheckCase{"ExitRequestsTheEnd", true, {0x1111}, {}, {std::nullopt},
                  SecurityCheckResult::ExitRequested, {}, 1, {}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(SecurityCheck, FailsWhenTheLibraryFails) {
  MemorySettings settings;
  ScriptedPrompt prompt;
  FakeApi linkLost;
  linkLost.isProtected = true;
  linkLost.protectedStatus = 0x5000;
  EXPECT_EQ(SecurityCheck(linkLost, settings, prompt).Run(), SecurityCheckResult::Failed);

  FakeApi eraseRefused;
  eraseRefused.isProtected = true;
  eraseRefused.chipEraseStatus = 0x6307;
  prompt.answers = {Initialize()};
  EXPECT_EQ(SecurityCheck(eraseRefused, settings, prompt).Run(), SecurityCheckResult::Failed);
  EXPECT_EQ(eraseRefused.statuses[0], 0x6307);
  EXPECT_EQ(settings.writes, 0);
  EXPECT_TRUE(prompt.reported.empty());
}

TEST(SecurityCheck, ShowsTheDialogForTheChipsSecurityType) {
  FakeApi api;
  api.isProtected = true;
  api.securityType = 1;
  MemorySettings settings;
  ScriptedPrompt prompt;
  SecurityCheck(api, settings, prompt).Run();
  EXPECT_EQ(prompt.typesShown, std::vector<uint16_t>{1});
}

}  // namespace
}  // namespace quarnel
