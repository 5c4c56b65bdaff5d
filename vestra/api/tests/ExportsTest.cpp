#include <gtest/gtest.h>

#include "api/tests/ApiFixture.h"

namespace api_testing {
namespace {

using vestra::usb::testing::FakeUsbBackend;

TEST(ConnectionSetExports, CallsWithoutAConnectionSetAreNotCarriedOut) {
    FakeUsbBackend backend;
    uint32_t count = 7;
    EXPECT_EQ(ApiGetTargetNum(&count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ApiDelConnect(), 0);
    EXPECT_EQ(ApiSystemReset(1), 0);
    EXPECT_EQ(ApiSystemResetAll(), 0);
    EXPECT_EQ(ApiChipEraseAll(), 0);
    EXPECT_EQ(ApiFlashEraseBlockAll(0), 0);
    uint8_t byte = 0;
    EXPECT_EQ(ApiFlashWriteAll(0, 0, 0, &byte), 0);
    EXPECT_EQ(ApiCheckFirm(1), 0);
    uint32_t needed = 0;
    EXPECT_EQ(ApiGetDevicePathStr(1, nullptr, 0, &needed), 0);
}

TEST(ConnectionSetExports, NoEmulatorMeansNoConnectionSet) {
    FakeUsbBackend backend;
    EXPECT_EQ(ApiCreateConnect(), 0);
    EXPECT_EQ(ApiObj.GetTrgConnect(), nullptr);
    backend.setEnumerateFails(true);
    EXPECT_EQ(ApiCreateConnectOne(), 0);
    EXPECT_EQ(ApiObj.GetTrgConnect(), nullptr);
}

TEST(ConnectionSetExports, TooManyEmulatorsReportMinusOneAndLeaveNoSet) {
    FakeUsbBackend backend;
    for (int i = 0; i < 33; ++i) backend.addDevice("usb:9-" + std::to_string(i));
    EXPECT_EQ(ApiCreateConnect(), -1);
    EXPECT_EQ(ApiObj.GetTrgConnect(), nullptr);

    ASSERT_EQ(ApiCreateConnectOne(), 1);  // the short enumeration takes the first two
    uint32_t count = 0;
    ASSERT_EQ(ApiGetTargetNum(&count), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(ApiDelConnect(), 1);
    EXPECT_EQ(ApiObj.GetTrgConnect(), nullptr);
}

using ExportsTest = TwoEmulators;

TEST_F(ExportsTest, SecondConnectIsRefusedAndTheFirstSetStaysUsable) {
    CTrgConnectCtrl* first = ApiObj.GetTrgConnect();
    EXPECT_EQ(ApiCreateConnect(), 0);
    EXPECT_EQ(ApiCreateConnectOne(), 0);
    EXPECT_EQ(ApiObj.GetTrgConnect(), first);
    uint32_t count = 0;
    ASSERT_EQ(ApiGetTargetNum(&count), 1);
    EXPECT_EQ(count, 2u);
    char path[16] = {};
    uint32_t needed = 0;
    ASSERT_EQ(ApiGetDevicePathStr(2, path, sizeof path, &needed), 1);
    EXPECT_STREQ(path, kPath2);
    EXPECT_EQ(needed, 8u);
}

TEST_F(ExportsTest, SystemResetOutOfRangeIsCarriedOutWithoutTouchingAnyDevice) {
    device(1).setPlugStatus(PlugSuccess);
    device(2).setPlugStatus(PlugSuccess);
    EXPECT_EQ(ApiSystemReset(3), 1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(device(1).getPlugStatus(), PlugSuccess);
    EXPECT_EQ(device(2).getPlugStatus(), PlugSuccess);

    EXPECT_EQ(ApiSystemReset(2), 1);
    EXPECT_EQ(device(2).getPlugStatus(), PlugNone);
    EXPECT_EQ(device(1).getPlugStatus(), PlugSuccess);
}

TEST_F(ExportsTest, ResetOfAllUnplugsEveryDeviceUnlessSimple) {
    device(1).setPlugStatus(PlugSuccess);
    device(2).setPlugStatus(PlugProtected);
    ASSERT_EQ(ApiSystemResetAllSimple(), 1);
    EXPECT_EQ(device(1).getPlugStatus(), PlugSuccess);
    ASSERT_EQ(ApiSystemResetAll(), 1);
    EXPECT_EQ(device(1).getPlugStatus(), PlugNone);
    EXPECT_EQ(device(2).getPlugStatus(), PlugNone);
    EXPECT_EQ(sim1.commands("system reset").size(), 2u);
}

class StartupTest : public TwoEmulators {
protected:
    CTargetInfo target_ = sampleTarget();
    TRGINFO set_{1, &target_};
};

TEST_F(StartupTest, NullSetTouchesNoDevice) {
    EXPECT_EQ(ApiStartupTargetAll(nullptr, "KT51456"), 0);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(device(1).getPlugStatus(), PlugNone);
}

TEST_F(StartupTest, PlugsEveryMatchingDeviceUpToProtectedAndMarksTheOthers) {
    korvo::ChipDescription other = sampleChip();
    other.productId[0] = 0x09000000;
    sim2.replace(other, kSampleFirmware);
    ASSERT_EQ(ApiStartupTargetAll(&set_, "KT51456"), 1);

    EXPECT_EQ(device(1).getPlugStatus(), PlugProtected);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(device(1).getFirmVer(), 110u);
    EXPECT_EQ(device(2).getPlugStatus(), PlugInProgress);
    EXPECT_EQ(status(2), 0x2002);
    // The failed device shows the error indication; the good one does not.
    EXPECT_EQ(sim1.emulator().errorIndications(), 0u);
    EXPECT_NE(sim2.emulator().errorIndications(), 0u);

    // The order of one device's plugging.
    EXPECT_EQ(sim1.commands(),
              (Lines{"system reset mode 0", "system reset mode 1", "read product ID, 64 bits",
                     "set target info: ROM window 8000-FFFF, flash address 0000FDF0, flag 00",
                     "information query 3F02 (firmware version) -> \"1.10\""}));

    uint16_t isProtected = 1;
    ASSERT_EQ(ApiIsTargetProtected(1, &isProtected), 1);
    EXPECT_EQ(isProtected, 0);
    EXPECT_EQ(device(1).getPlugStatus(), PlugSuccess);
}

TEST_F(StartupTest, ResetFailureStopsThePluggingOfThatDevice) {
    sim1.refuse(1, 0x6304);  // the first system reset
    ASSERT_EQ(ApiStartupTargetAll(&set_, "KT51456"), 1);
    EXPECT_EQ(status(1), 0x6304);
    EXPECT_EQ(device(1).getPlugStatus(), PlugInProgress);
    EXPECT_TRUE(sim1.commands("read product ID").empty());
    EXPECT_EQ(device(2).getPlugStatus(), PlugProtected);
}

TEST_F(StartupTest, OldFirmwareLeavesTheDeviceIdentifiedButMarked) {
    sim2.replace(sampleChip(), "1.05");
    ApiStartupTargetAll(&set_, "KT51456");
    EXPECT_EQ(device(2).getPlugStatus(), PlugProtected);
    EXPECT_EQ(status(2), 0x2004);
    EXPECT_EQ(sim2.emulator().errorIndications(), 1u);
}

}  // namespace
}  // namespace api_testing
