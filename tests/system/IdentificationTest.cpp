#include <string>

#include "SystemFixture.h"

namespace system_testing {
namespace {

using korvo::testing::SimProcess;

using IdentificationTest = SystemTest;

// KT4351235 needs firmware 1.05. Emulators: 0 carries another chip, 1 and 2
// have unsuitable firmware, 3 is left out by the user, 4 is right.
TEST_F(IdentificationTest, EachEmulatorIsMarkedWithItsOwnOutcome) {
    startSim({"--trg", SimProcess::sampleTrg("KT4351235"), "--emulators", "5",
              "--emulator", "0:trg=" + SimProcess::sampleTrg("KT51456"),
              "--emulator", "1:firmware=1.04",
              "--emulator", "2:firmware=V1.1",
              "--emulator", "3:firmware=0.01"});
    connect(5);
    ASSERT_EQ(api->ApiSetEnableFlg(4, 0), 1);
    ASSERT_NE(targets(), nullptr);

    ASSERT_EQ(api->ApiStartupTargetAll(targets(), "KT4351235"), 1);

    EXPECT_EQ(status(1), 0x2002);
    EXPECT_EQ(plugStatus(1), PlugInProgress);
    EXPECT_EQ(status(2), 0x2004);
    EXPECT_EQ(status(3), 0x2003);
    EXPECT_EQ(status(4), 0);
    EXPECT_EQ(status(5), 0);
    EXPECT_EQ(plugStatus(5), PlugProtected);

    uint32_t needed = 0;
    char text[8] = {};
    EXPECT_EQ(api->ApiGetFirmVersionStr(4, text, sizeof text, &needed), 0);  // never asked
    ASSERT_EQ(api->ApiGetFirmVersionStr(5, text, sizeof text, &needed), 1);
    EXPECT_STREQ(text, "9.99");
    ASSERT_EQ(api->ApiGetFirmVersionStr(2, text, sizeof text, &needed), 1);
    EXPECT_STREQ(text, "1.04");

    // Security type 1: the chip erase leaves the protected target alone.
    uint16_t type = 0;
    ASSERT_EQ(api->ApiGetSecType(5, &type), 1);
    EXPECT_EQ(type, 1);
    uint32_t id[2] = {};
    ASSERT_EQ(api->ApiTargetReadProductID(5, 64, id), 1);
    EXPECT_EQ(id[0], 0x05001235u);
    EXPECT_EQ(id[1], 0x00840C00u);
}

TEST_F(IdentificationTest, ChipNamedByDigitsWhenTheDescriptionHasNoFullId) {
    // A description whose second ID word is 0 is matched by the digits of its
    // name against the chip name the emulator reports.
    startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "2", "--emulator", "1:chip-name=9999"});
    connect(2);
    ASSERT_NE(targets(), nullptr);
    TRGINFO byName = *targets();
    std::vector<CTargetInfo> copies(targets()->array, targets()->array + targets()->count);
    for (CTargetInfo& info : copies) info.targetId32 = 0;
    byName.array = copies.data();

    ASSERT_EQ(api->ApiCheckTargetName(1, &byName, "KT51456"), 1);
    ASSERT_EQ(api->ApiCheckTargetName(2, &byName, "KT51456"), 1);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0x2002);
}

}  // namespace
}  // namespace system_testing
