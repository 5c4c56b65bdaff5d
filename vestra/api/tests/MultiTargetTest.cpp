#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "api/tests/ApiFixture.h"

namespace api_testing {
namespace {

std::vector<uint8_t> countingImage(size_t size) {
    std::vector<uint8_t> image(size);
    std::iota(image.begin(), image.end(), uint8_t{0});
    return image;
}

using MultiTargetTest = TwoEmulators;

TEST_F(MultiTargetTest, WriteGoesOutChunkByChunkToEveryDeviceBeforeAnyAnswerIsRead) {
    plug(1, PlugSuccess);
    plug(2, PlugSuccess);
    const std::vector<uint8_t> image = countingImage(0x3000);

    ASSERT_EQ(ApiFlashWriteAll(0x100, 0x100 + 2499, 0x4000, const_cast<uint8_t*>(image.data())), 1);

    const std::string a = kPath1, b = kPath2;
    const Lines step{"W " + a, "W " + b, "R " + a, "R " + b};
    Lines expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), step.begin(), step.end());
    EXPECT_EQ(transfers(), expected);
    for (const EmulatorDevice* sim : {&sim1, &sim2}) {
        EXPECT_EQ(sim->commands(), (Lines{"write memory at 00004000, 1000 bytes",
                                          "write memory at 000043E8, 1000 bytes",
                                          "write memory at 000047D0, 500 bytes"}));
        std::vector<uint8_t> written(image.begin() + 0x100, image.begin() + 0x100 + 2500);
        written.push_back(0xFF);
        EXPECT_EQ(sim->memory(0x4000, 2501), written);
    }
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0);
}

TEST_F(MultiTargetTest, DeviceThatFailsMidWriteGetsNoFurtherChunksWhileTheOtherFinishes) {
    plug(1, PlugSuccess);
    plug(2, PlugSuccess);
    sim2.refuse(2, 0x6309);
    const std::vector<uint8_t> image = countingImage(4000);

    ASSERT_EQ(ApiFlashWriteAll(0, 3999, 0, const_cast<uint8_t*>(image.data())), 1);

    EXPECT_EQ(sim1.commands("write memory").size(), 4u);
    EXPECT_EQ(sim2.commands().size(), 2u);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0x6309);
    EXPECT_EQ(sim1.memory(0, 4000), image);

    // The failure stays and keeps the device out of the next operation too.
    ApiFlashEraseBlockAll(0);
    EXPECT_EQ(sim2.commands().size(), 2u);
    EXPECT_EQ(sim1.commands("erase block"), Lines{"erase block at 00000000"});
}

TEST_F(MultiTargetTest, SilentDeviceIsNotWaitedForAgain) {
    plug(1, PlugSuccess);
    plug(2, PlugSuccess);
    sim1.fallSilent(1);
    const std::vector<uint8_t> image = countingImage(3000);

    ASSERT_EQ(ApiFlashWriteAll(0, 2999, 0, const_cast<uint8_t*>(image.data())), 1);

    EXPECT_EQ(status(1), 0x5000);
    EXPECT_EQ(sim1.commands().size(), 1u);
    EXPECT_EQ(sim2.commands("write memory").size(), 3u);
    EXPECT_EQ(sim2.memory(0, 3000), image);
}

TEST_F(MultiTargetTest, OnlyPluggedEnabledAndClearDevicesWriteAndErase) {
    plug(1, PlugSuccess);
    plug(2, PlugSuccess);
    std::vector<uint8_t> image(16, 0x5A);

    ApiSetEnableFlg(2, 0);
    ApiFlashWriteAll(0, 15, 0, image.data());
    ApiFlashEraseBlockAll(0);
    ApiChipEraseAll();
    EXPECT_TRUE(sim2.commands().empty());
    EXPECT_EQ(status(2), 0);

    ApiSetEnableFlg(2, 7);
    ApiSetTargetPlugStatus(2, PlugProtected);  // identified but not yet accessible
    ApiFlashWriteAll(0, 15, 0, image.data());
    ApiFlashEraseBlockAll(0);
    EXPECT_TRUE(sim2.commands().empty());
    EXPECT_EQ(sim1.commands("write memory").size(), 2u);
}

TEST_F(MultiTargetTest, EmptyAndInvertedWriteRangesSendNothing) {
    plug(1, PlugSuccess);
    uint8_t byte = 0;
    EXPECT_EQ(ApiFlashWriteAll(10, 9, 0, &byte), 1);
    EXPECT_EQ(ApiFlashWriteAll(10, 3, 0, &byte), 1);
    // 0 .. 0xFFFFFFFF counts 2^32 bytes, 0 in 32 bits.
    EXPECT_EQ(ApiFlashWriteAll(0, 0xFFFFFFFF, 0, &byte), 1);
    EXPECT_EQ(ApiFlashWriteAllWithSN(0, 0xFFFFFFFF, 0, &byte, 0), 1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(status(1), 0);
}

// Missing data or buffers are refused unsent with 0x5001, not reported as done.
TEST_F(MultiTargetTest, NullBuffersAndWordsAreRefusedWithAStatus) {
    plug(1, PlugSuccess);
    uint32_t got = 99;
    EXPECT_EQ(ApiFlashRead(1, 0x100, &got, nullptr), 0);
    EXPECT_EQ(status(1), 0x5001);
    EXPECT_EQ(got, 0u);

    ApiSetTargetStatus(1, 0);
    got = 99;
    EXPECT_EQ(ApiFlashReadBlock(1, 0x2000, &got, nullptr), 0);
    EXPECT_EQ(status(1), 0x5001);
    EXPECT_EQ(got, 0u);

    ApiSetTargetStatus(1, 0);
    uint16_t isProtected = 0;
    EXPECT_EQ(ApiSetSecIDEx(1, 2, nullptr, &isProtected), 0);
    EXPECT_EQ(status(1), 0x5001);
    EXPECT_EQ(isProtected, 1);
    EXPECT_TRUE(transfers().empty());
}

TEST_F(MultiTargetTest, WriteOutsideTheFlashRangesMarksTheDevice) {
    plug(1, PlugSuccess);
    std::vector<uint8_t> image(0x100, 0);
    ApiFlashWriteAll(0, 0xFF, 0x10000, image.data());
    EXPECT_EQ(status(1), 0x4000);
    EXPECT_TRUE(sim1.commands().empty());
}

TEST_F(MultiTargetTest, SerialNumberStraddlingAChunkBoundaryIsSplitPerDevice) {
    plug(1, PlugSuccess);
    plug(2, PlugSuccess);
    uint8_t sn1[] = {0xA1, 0xA2, 0xA3, 0xA4};
    uint8_t sn2[] = {0xB1, 0xB2, 0xB3, 0xB4};
    ASSERT_EQ(ApiSetSerialNumber(1, sn1, 4), 1);
    ASSERT_EQ(ApiSetSerialNumber(2, sn2, 4), 1);
    std::vector<uint8_t> image(2000, 0x11);

    ASSERT_EQ(ApiFlashWriteAllWithSN(0, 1999, 0x1000, image.data(), 0x1000 + 998), 1);

    for (auto [sim, sn] : {std::pair{&sim1, sn1}, std::pair{&sim2, sn2}}) {
        EXPECT_EQ(sim->commands(),
                  (Lines{"write memory at 00001000, 1000 bytes", "write memory at 000013E8, 1000 bytes"}));
        EXPECT_EQ(sim->memory(0x1000 + 997, 6), (std::vector<uint8_t>{0x11, sn[0], sn[1], sn[2], sn[3], 0x11}));
    }
    EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0x11; }));
}

TEST_F(MultiTargetTest, SerialNumberLengthIsBoundedAndKeptOnRefusal) {
    std::vector<uint8_t> bytes(257, 0x42);
    ASSERT_EQ(ApiSetSerialNumber(1, bytes.data(), 3), 1);
    EXPECT_EQ(ApiSetSerialNumber(1, bytes.data(), 257), 0);
    EXPECT_EQ(ApiSetSerialNumber(1, bytes.data(), 0), 0);
    EXPECT_EQ(ApiSetSerialNumber(1, nullptr, 4), 0);
    EXPECT_EQ(ApiSetSerialNumber(3, bytes.data(), 4), 0);
    EXPECT_EQ(ApiSetSerialNumber(2, bytes.data(), 256), 1);

    uint8_t small[2] = {0, 0};
    uint32_t length = 0;
    ASSERT_EQ(ApiGetSerialNumber(1, small, sizeof small, &length), 1);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(small[0], 0);  // too small: nothing copied
    uint8_t enough[3] = {};
    ASSERT_EQ(ApiGetSerialNumber(1, enough, sizeof enough, &length), 1);
    EXPECT_EQ(enough[2], 0x42);
}

TEST_F(MultiTargetTest, ChipEraseOpensProtectedSecurityType0ChipsOnly) {
    CTargetInfo type1 = sampleTarget();
    type1.targetId32 |= 1u << 23;
    plug(1, PlugProtected);
    plug(2, PlugProtected, type1);

    ASSERT_EQ(ApiChipEraseAll(), 1);

    EXPECT_EQ(sim1.commands(), Lines{"erase chip"});
    EXPECT_TRUE(sim2.commands().empty());
    PlugStatus plug1 = PlugNone, plug2 = PlugNone;
    ApiGetTargetPlugStatus(1, &plug1);
    ApiGetTargetPlugStatus(2, &plug2);
    EXPECT_EQ(plug1, PlugSuccess);
    EXPECT_EQ(plug2, PlugProtected);
}

TEST_F(MultiTargetTest, ChipEraseThatFailsLeavesTheChipProtected) {
    plug(1, PlugProtected);
    sim1.refuse(1, 0x6307);
    ApiChipEraseAll();
    PlugStatus plugStatus = PlugNone;
    ApiGetTargetPlugStatus(1, &plugStatus);
    EXPECT_EQ(plugStatus, PlugProtected);
    EXPECT_EQ(status(1), 0x6307);
}

TEST_F(MultiTargetTest, ProtectionCheckNeedsAnIdentifiedTarget) {
    device(1).setPlugStatus(PlugInProgress);
    uint16_t isProtected = 0;
    EXPECT_EQ(ApiIsTargetProtected(1, &isProtected), 0);
    EXPECT_EQ(isProtected, 1);
    EXPECT_TRUE(sim1.commands().empty());
}

TEST_F(MultiTargetTest, ProtectionWordDecidesThePlugStatus) {
    plug(1, PlugProtected);
    plug(2, PlugProtected);
    sim2.chip().protect({0x1234, 0x5678});
    uint16_t open = 7, shut = 7;
    ASSERT_EQ(ApiIsTargetProtected(1, &open), 1);
    ASSERT_EQ(ApiIsTargetProtected(2, &shut), 1);
    EXPECT_EQ(open, 0);
    EXPECT_EQ(shut, 1);
    int success1 = 0, success2 = 1;
    ApiIsTargetPlugSuccess(1, &success1);
    ApiIsTargetPlugSuccess(2, &success2);
    EXPECT_EQ(success1, 1);
    EXPECT_EQ(success2, 0);
    EXPECT_EQ(status(2), 0x2005);

    // A device with a pending failure is not asked again.
    ASSERT_EQ(ApiIsTargetProtected(2, &shut), 1);
    EXPECT_EQ(sim2.commands(), Lines{"read protection: protected"});
}

TEST_F(MultiTargetTest, SecurityIdGoesOutUpperHalfFirstAndUnlocks) {
    plug(1, PlugProtected);
    sim1.chip().protect({0x1234, 0x5678});
    uint16_t isProtected = 0;

    ASSERT_EQ(ApiSetSecID(1, 0x56781234, &isProtected), 1);
    EXPECT_EQ(isProtected, 1);
    EXPECT_EQ(status(1), 0x2005);

    ApiSetTargetStatus(1, 0);
    ASSERT_EQ(ApiSetSecID(1, 0x12345678, &isProtected), 1);
    EXPECT_EQ(isProtected, 0);
    EXPECT_EQ(status(1), 0);
    int success = 0;
    ApiIsTargetPlugSuccess(1, &success);
    EXPECT_EQ(success, 1);

    sim1.chip().protect({1, 2, 3});
    uint16_t words[3] = {1, 2, 3};
    ASSERT_EQ(ApiSetSecIDEx(1, 3, words, &isProtected), 1);
    EXPECT_EQ(isProtected, 0);
    EXPECT_EQ(sim1.commands("unlock").back(), "unlock protection with 3 words, unlocked");
}

TEST_F(MultiTargetTest, SecurityTypeIsReportedForIdentifiedTargets) {
    CTargetInfo type1 = sampleTarget();
    type1.targetId32 |= 1u << 23;
    uint16_t type = 9;
    EXPECT_EQ(ApiGetSecType(1, &type), 0);
    EXPECT_EQ(type, 0);
    plug(1, PlugProtected, type1);
    ASSERT_EQ(ApiGetSecType(1, &type), 1);
    EXPECT_EQ(type, 1);
}

TEST_F(MultiTargetTest, ReadsOnlyFromAnAccessibleTarget) {
    std::vector<uint8_t> buffer(0x10000, 0);
    uint32_t got = 99;
    device(1).setTargetInfo(sampleTarget());
    EXPECT_EQ(ApiFlashReadBlock(1, 0x2000, &got, buffer.data()), 0);
    EXPECT_EQ(got, 0u);

    plug(1, PlugSuccess);
    std::vector<uint8_t> image(16, 0xC3);
    ApiFlashWriteAll(0, 15, 0x2004, image.data());
    ASSERT_EQ(ApiFlashReadBlock(1, 0x2000, &got, buffer.data()), 1);
    EXPECT_EQ(got, 0x2000u);
    EXPECT_EQ(buffer[4], 0xC3);

    ASSERT_EQ(ApiFlashRead(1, 0x2010, &got, buffer.data()), 1);
    EXPECT_EQ(got, 0x2010u);
    EXPECT_EQ(buffer[0x2004], 0xC3);
    EXPECT_EQ(ApiFlashRead(1, 0x20000, &got, buffer.data()), 1);
    EXPECT_EQ(status(1), 0x4001);
}

TEST_F(MultiTargetTest, PlugResetRemovesThePowerOnStateInsteadOfResettingAgain) {
    sim1.emulator().faults().powerOn = true;
    ASSERT_EQ(ApiSysResetPlug(1), 1);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(sim1.commands(), (Lines{"system reset mode 0, refused: power-on state", "remove power-on state"}));

    ASSERT_EQ(ApiSysResetPlug(2), 1);
    EXPECT_EQ(sim2.commands(), (Lines{"system reset mode 0", "system reset mode 1"}));
}

TEST_F(MultiTargetTest, ResetsClearAPowerOnRefusal) {
    sim1.emulator().faults().powerOn = true;
    sim2.emulator().faults().powerOn = true;
    ASSERT_EQ(ApiSysReset(1), 1);
    EXPECT_EQ(status(1), 0);
    ApiSetTargetStatus(2, 0x6309);
    ASSERT_EQ(ApiSystemResetAllSimple(), 1);
    EXPECT_EQ(status(2), 0);
    EXPECT_EQ(sim2.commands("system reset").size(), 1u);
}

TEST_F(MultiTargetTest, ResetOfAllWaitsOnlyForDevicesItReached) {
    usb2.setUnplugged(true);
    ASSERT_EQ(ApiSystemResetAllSimple(), 1);
    EXPECT_EQ(status(1), 0);
    EXPECT_NE(status(2), 0);
    EXPECT_TRUE(usb2.events(FakeEvent::Kind::Read).empty());
}

TEST_F(MultiTargetTest, ErrorIndicationOnlyForFailedEnabledDevices) {
    ApiUpdateErrorTargetLED(1);
    EXPECT_TRUE(sim1.commands().empty());
    ApiSetTargetStatus(1, 0x6300);
    ApiUpdateErrorTargetLED(1);
    ApiErrorTargetLED(2);
    EXPECT_EQ(sim1.commands().size(), 1u);
    EXPECT_EQ(sim1.emulator().errorIndications(), 1u);
    EXPECT_EQ(status(1), 0x6300);
    EXPECT_EQ(sim2.emulator().errorIndications(), 1u);
}

TEST_F(MultiTargetTest, GettersClearTheirOutputsAndRejectBadNumbers) {
    int flag = 5, value = 5, success = 5;
    PlugStatus plugStatus = PlugSuccess;
    EXPECT_EQ(ApiGetEnableFlg(3, &flag), 0);
    EXPECT_EQ(ApiGetTargetStatus(0, &value), 0);
    EXPECT_EQ(ApiIsTargetPlugSuccess(3, &success), 0);
    EXPECT_EQ(ApiGetTargetPlugStatus(3, &plugStatus), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(success, 0);
    EXPECT_EQ(plugStatus, PlugNone);
    EXPECT_EQ(ApiSetTargetStatus(3, 1), 0);

    ApiSetEnableFlg(1, -3);
    ASSERT_EQ(ApiGetEnableFlg(1, &flag), 1);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(device(1).getEnableFlg(), 1);
}

}  // namespace
}  // namespace api_testing
