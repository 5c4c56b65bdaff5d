#include <algorithm>
#include <vector>

#include "SystemFixture.h"

namespace system_testing {
namespace {

using korvo::testing::SimProcess;

constexpr uint32_t kImageSize = 0x10000;
constexpr uint32_t kSerialAddress = 0x8000;

std::vector<uint8_t> patternImage() {
    std::vector<uint8_t> image(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return image;
}

std::vector<uint8_t> withSerial(std::vector<uint8_t> image, const std::vector<uint8_t>& serial) {
    std::copy(serial.begin(), serial.end(), image.begin() + kSerialAddress);
    return image;
}

using PlugAndWriteTest = SystemTest;

TEST_F(PlugAndWriteTest, TwoEmulatorsUnlockEraseWriteInLockStepAndKeepTheirOwnSerialNumbers) {
    startSim({"--trg", SimProcess::sampleTrg("KT430735"), "--emulators", "2", "--security-id", "12345678"});
    connect(2);
    ASSERT_NE(targets(), nullptr);

    ASSERT_EQ(api->ApiStartupTargetAll(targets(), "KT430735"), 1);
    for (uint32_t n : {1u, 2u}) {
        EXPECT_EQ(plugStatus(n), PlugProtected);
        EXPECT_EQ(status(n), 0);
        uint16_t isProtected = 0;
        ASSERT_EQ(api->ApiIsTargetProtected(n, &isProtected), 1);
        EXPECT_EQ(isProtected, 1);
        EXPECT_EQ(status(n), 0x2005);
        api->ApiSetTargetStatus(n, 0);
    }

    // Target 1 by its security ID, target 2 (security type 0) by erasing it.
    uint16_t isProtected = 1;
    ASSERT_EQ(api->ApiSetSecID(1, 0x12345678, &isProtected), 1);
    EXPECT_EQ(isProtected, 0);
    EXPECT_EQ(plugStatus(1), PlugSuccess);
    uint16_t type = 1;
    ASSERT_EQ(api->ApiGetSecType(2, &type), 1);
    EXPECT_EQ(type, 0);
    ASSERT_EQ(api->ApiChipEraseAll(), 1);
    EXPECT_EQ(plugStatus(2), PlugSuccess);
    EXPECT_EQ(status(2), 0);

    std::vector<uint8_t> serial1{0xA1, 0xA2, 0xA3, 0xA4};
    std::vector<uint8_t> serial2{0xB1, 0xB2, 0xB3, 0xB4};
    ASSERT_EQ(api->ApiSetSerialNumber(1, serial1.data(), 4), 1);
    ASSERT_EQ(api->ApiSetSerialNumber(2, serial2.data(), 4), 1);
    std::vector<uint8_t> image = patternImage();
    ASSERT_EQ(api->ApiFlashWriteAllWithSN(0, kImageSize - 1, 0, image.data(), kSerialAddress), 1);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0);
    EXPECT_EQ(image, patternImage());

    std::vector<uint8_t> readBack(kImageSize);
    uint32_t got = 0;
    ASSERT_EQ(api->ApiFlashRead(1, kImageSize, &got, readBack.data()), 1);
    EXPECT_EQ(got, kImageSize);
    EXPECT_EQ(readBack, withSerial(image, serial1));
    std::vector<uint8_t> block(0x8000);
    ASSERT_EQ(api->ApiFlashReadBlock(2, kSerialAddress + 2, &got, block.data()), 1);
    EXPECT_EQ(got, 0x8000u);
    EXPECT_TRUE(std::equal(serial2.begin(), serial2.end(), block.begin()));

    disconnectAndStop();
    const std::vector<uint8_t> dump0 = dump(0), dump1 = dump(1);
    ASSERT_GE(dump0.size(), kImageSize);
    ASSERT_EQ(dump0.size(), dump1.size());
    EXPECT_TRUE(std::equal(dump0.begin(), dump0.begin() + kImageSize, withSerial(image, serial1).begin()));
    EXPECT_TRUE(std::all_of(dump0.begin() + kImageSize, dump0.end(), [](uint8_t b) { return b == 0xFF; }));
    std::vector<size_t> differing;
    for (size_t i = 0; i < dump0.size(); ++i) {
        if (dump0[i] != dump1[i]) differing.push_back(i);
    }
    EXPECT_EQ(differing, (std::vector<size_t>{kSerialAddress, kSerialAddress + 1, kSerialAddress + 2,
                                             kSerialAddress + 3}));
}

TEST_F(PlugAndWriteTest, ConnectionSetLifecycleThroughTheBoundNames) {
    startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "3"});
    EXPECT_NE(api->apiObj, nullptr);
    uint32_t count = 5;
    EXPECT_EQ(api->ApiGetTargetNum(&count), 0);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(api->ApiCreateConnectOne(), 1);
    ASSERT_EQ(api->ApiGetTargetNum(&count), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(api->ApiCreateConnect(), 0);
    char path[512] = {};
    uint32_t needed = 0;
    ASSERT_EQ(api->ApiGetDevicePathStr(2, path, sizeof path, &needed), 1);
    EXPECT_EQ(std::string(path), simDir() + "/korvo-01");
    EXPECT_EQ(needed, std::string(path).size() + 1);
    EXPECT_EQ(api->ApiDelConnect(), 1);
    EXPECT_EQ(api->ApiDelConnect(), 0);

    connect(3);
    plugAll("KT51456");
    for (uint32_t n = 1; n <= 3; ++n) EXPECT_EQ(plugStatus(n), PlugSuccess);
    ASSERT_EQ(api->ApiSystemResetAll(), 1);
    for (uint32_t n = 1; n <= 3; ++n) {
        EXPECT_EQ(plugStatus(n), PlugNone);
        EXPECT_EQ(status(n), 0);
    }
}

}  // namespace
}  // namespace system_testing
