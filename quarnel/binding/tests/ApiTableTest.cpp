#include "binding/ApiTable.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quarnel {
namespace {

// Every bound name in binding order, as the lookup sees them.
std::vector<std::string> BindingOrder() {
  std::vector<std::string> names;
#define QUARNEL_NAME(name) names.push_back(#name);
  QUARNEL_BOUND_EXPORTS(QUARNEL_NAME)
#undef QUARNEL_NAME
  return names;
}

int dummySymbol;

TEST(BindApiTable, LooksUpAllThirtyNineNamesInOrder) {
  std::vector<std::string> asked;
  ApiTable table;
  EXPECT_TRUE(BindApiTable(
      [&](const char* name) -> void* {
        asked.push_back(name);
        return &dummySymbol;
      },
      table));
  EXPECT_EQ(asked.size(), 39u);
  EXPECT_EQ(asked, BindingOrder());
  EXPECT_EQ(asked.front(), "ApiCreateConnect");
  EXPECT_EQ(asked[1], "ApiCreateConnectOne");
  EXPECT_EQ(asked.back(), "ReadHEX");
  EXPECT_EQ(reinterpret_cast<void*>(table.ReadHEX), &dummySymbol);
}

TEST(BindApiTable, StopsAtTheFirstMissingName) {
  for (const char* absent : {"ApiCreateConnectOne", "ReadHEX", "ApiGetFirmVersionStr"}) {
    SCOPED_TRACE(absent);
    std::vector<std::string> asked;
    std::string missing;
    ApiTable table;
    EXPECT_FALSE(BindApiTable(
        [&](const char* name) -> void* {
          asked.push_back(name);
          return std::string(name) == absent ? nullptr : &dummySymbol;
        },
        table, &missing));
    EXPECT_EQ(missing, absent);
    EXPECT_EQ(asked.back(), absent);  // nothing looked up after it
    std::vector<std::string> order = BindingOrder();
    EXPECT_EQ(asked, std::vector<std::string>(order.begin(), order.begin() + asked.size()));
  }
}

// A library whose target 1 answers with a chosen status after each call.
struct FakeLibrary {
  std::map<uint32_t, int> status;
  int statusAfterCall = 0;
  std::vector<std::string> calls;
  uint32_t readCount = 0;
};
FakeLibrary fake;

void Called(const char* name) {
  fake.calls.push_back(name);
  fake.status[1] = fake.statusAfterCall;
}

ApiTable FakeTable() {
  ApiTable table;
  table.ApiGetTargetStatus = [](uint32_t n, int* status) {
    *status = fake.status[n];
    return 1;
  };
  table.ApiSetTargetStatus = [](uint32_t n, int status) {
    fake.calls.push_back("ApiSetTargetStatus");
    fake.status[n] = status;
    return 1;
  };
  table.ApiIsTargetProtected = [](uint32_t, uint16_t* isProtected) {
    Called("ApiIsTargetProtected");
    *isProtected = 1;
    return 0;
  };
  table.ApiSetSecIDEx = [](uint32_t, uint8_t, uint16_t*, uint16_t*) {
    Called("ApiSetSecIDEx");
    return 0;
  };
  table.ApiGetSecType = [](uint32_t, uint16_t*) {
    Called("ApiGetSecType");
    return 1;
  };
  table.ApiFlashWriteAll = [](uint32_t, uint32_t, uint32_t, uint8_t*) {
    Called("ApiFlashWriteAll");
    return 0;  // the export's own result is not what counts
  };
  table.ApiFlashReadBlock = [](uint32_t n, uint32_t, uint32_t* got, uint8_t*) {
    Called("ApiFlashReadBlock");
    *got = fake.readCount + n - 1;
    return 1;
  };
  table.ApiGetDevicePathStr = [](uint32_t, char* buffer, uint32_t size, uint32_t* needed) {
    static const std::string path(100, 'p');
    *needed = static_cast<uint32_t>(path.size() + 1);
    if (*needed <= size) path.copy(buffer, path.size()), buffer[path.size()] = 0;
    return 1;
  };
  return table;
}

struct GuardRule {
  const char* call;
  int statusAfterCall;
  bool success;
  int statusLeft;
};

TEST(GuardedApiTable, JudgesByTarget1AndResetsTheSecurityAnswerOnlyForSecurityCalls) {
  const GuardRule rules[] = {
      {"protected?", 0, true, 0},        {"protected?", 0x2005, true, 0},   {"protected?", 0x6307, false, 0x6307},
      {"send ID", 0x2005, true, 0},      {"send ID", 0x5000, false, 0x5000}, {"security type", 0x2005, false, 0x2005},
      {"write", 0x2005, false, 0x2005},  {"write", 0, true, 0},              {"write", 0x6305, false, 0x6305},
  };
  ApiTable table = FakeTable();
  GuardedApiTable api(table);
  for (const GuardRule& rule : rules) {
    SCOPED_TRACE(std::string(rule.call) + " " + std::to_string(rule.statusAfterCall));
    fake = {};
    fake.statusAfterCall = rule.statusAfterCall;
    uint16_t isProtected = 0;
    uint16_t words[1] = {0};
    uint8_t image[4] = {};
    bool ok = false;
    std::string call = rule.call;
    if (call == "protected?") ok = api.IsProtected(&isProtected);
    if (call == "send ID") ok = api.SendSecurityId(1, words, &isProtected);
    if (call == "security type") ok = api.SecurityType(&isProtected);
    if (call == "write") ok = api.Write(0, 3, 0, image);
    EXPECT_EQ(ok, rule.success);
    EXPECT_EQ(api.Status(), rule.statusLeft);
  }
}

TEST(GuardedApiTable, PassesCountsAndTextsThrough) {
  ApiTable table = FakeTable();
  GuardedApiTable api(table);
  fake = {};
  fake.readCount = 4096;
  uint32_t got = 0;
  uint8_t buffer[1];
  EXPECT_EQ(api.ReadTargetBlock(1, 0, &got, buffer), 1);
  EXPECT_EQ(got, 4096u);
  EXPECT_EQ(api.ReadTargetBlock(3, 0, &got, buffer), 1);
  EXPECT_EQ(got, 4098u);
  EXPECT_EQ(api.DevicePath(2), std::string(100, 'p'));  // longer than the first buffer
}

// The connect failure text is looked up apart from the 39: binding succeeds
// without it, and the reason is then empty.
TEST(BindOptionalExports, TakesTheConnectFailureTextWhenPresent) {
  for (const bool present : {true, false}) {
    SCOPED_TRACE(present);
    std::vector<std::string> asked;
    ApiTable table = FakeTable();
    BindOptionalExports(
        [&](const char* name) -> void* {
          asked.push_back(name);
          return present ? reinterpret_cast<void*>(+[](char* buffer, uint32_t size, uint32_t* needed) {
            static const std::string reason = "No emulator sockets (korvo-NN) in /tmp/s (KORVO_SIM_DIR).\n" +
                                              std::string(80, 'r');
            *needed = static_cast<uint32_t>(reason.size() + 1);
            if (*needed <= size) reason.copy(buffer, reason.size()), buffer[reason.size()] = 0;
            return 1;
          })
                         : nullptr;
        },
        table);
    EXPECT_EQ(asked, std::vector<std::string>{"ApiGetConnectFailureText"});
    GuardedApiTable api(table);
    EXPECT_EQ(api.NoEmulatorReason(),
              present ? "No emulator sockets (korvo-NN) in /tmp/s (KORVO_SIM_DIR).\n" + std::string(80, 'r') : "");
  }
}

}  // namespace
}  // namespace quarnel
