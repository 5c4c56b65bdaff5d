// The connection set and the device object against korvo-sim, run as a child
// process and reached through its sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "device/TrgConnectCtrl.h"
#include "target/TrgReader.h"
#include "usb/UsbBackend.h"

namespace {

using korvo::testing::SimProcess;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kWidestProductId = 93;

// Runs korvo-sim with `arguments` and points VESTRA at its sockets.
class SimFixture : public ::testing::Test {
protected:
    void startSim(std::vector<std::string> arguments) {
        sim = std::make_unique<SimProcess>(std::move(arguments));
        ASSERT_TRUE(sim->start());
        backend = vestra::usb::createSimSocketBackend(sim->dir());
        vestra::usb::setBackendForTesting(backend.get());
    }

    void TearDown() override { vestra::usb::setBackendForTesting(nullptr); }

    static CTargetInfo sampleTarget(const std::string& name) {
        CTargetInfo info{};
        EXPECT_TRUE(vestra::target::readTargetInfo(SimProcess::sampleTrg(name), kWidestProductId, info)) << name;
        return info;
    }

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<vestra::usb::UsbBackend> backend;
};

std::vector<std::string> listedPaths(const CTrgConnectCtrl& set) {
    std::vector<std::string> paths;
    char buffer[512];
    uint32_t needed = 0;
    for (uint32_t n = 1; set.GetDevicePathStr(n, buffer, sizeof buffer, &needed) == 1; ++n) paths.emplace_back(buffer);
    return paths;
}

bool answersChipName(CFlashApi& flash) {
    uint8_t name[32] = {};
    return flash.getStatus() == FlashStatusOk && flash.GetChipName(name, sizeof name) == 1;
}

class ConnectionSetSimTest : public SimFixture {
protected:
    void SetUp() override { startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--emulators", "3"}); }
};

TEST_F(ConnectionSetSimTest, ListsAndOpensThreeEmulatorsInOrder) {
    CTrgConnectCtrl set;
    ASSERT_EQ(set.GetUsbDevice(), 1);
    EXPECT_EQ(listedPaths(set), (std::vector<std::string>{sim->socketPath(0), sim->socketPath(1), sim->socketPath(2)}));
    ASSERT_EQ(set.CreateFlashApi(), 1);
    ASSERT_EQ(set.GetSizeDevObj(), 3u);
    for (uint32_t n = 1; n <= 3; ++n) EXPECT_TRUE(answersChipName(*set.GetIndexDevObj(n))) << n;

    CTrgConnectCtrl firstTwo;
    ASSERT_EQ(firstTwo.GetUsbDeviceOne(), 1);
    EXPECT_EQ(listedPaths(firstTwo), (std::vector<std::string>{sim->socketPath(0), sim->socketPath(1)}));
}

TEST_F(ConnectionSetSimTest, DestroyingTheSetFreesEveryEmulatorAtOnce) {
    auto set = std::make_unique<CTrgConnectCtrl>();
    set->GetUsbDevice();
    ASSERT_EQ(set->CreateFlashApi(), 1);
    // An emulator takes one connection at a time: a second opener is refused.
    EXPECT_EQ(CFlashApi(sim->socketPath(2).c_str()).getStatus(), FlashErrUnreachable);

    set.reset();
    for (unsigned k = 0; k < 3; ++k) {
        CFlashApi again(sim->socketPath(k).c_str());
        EXPECT_TRUE(answersChipName(again)) << k;
    }
}

class FlashSimTest : public SimFixture {
protected:
    // Reads every in-range byte of the flash, packed.
    Bytes readAll(CFlashApi& flash, uint32_t size) {
        Bytes bytes(size);
        uint32_t count = 0;
        EXPECT_EQ(flash.FlashReadCont(size, &count, bytes.data()), 1) << std::hex << flash.getStatus();
        EXPECT_EQ(count, size);
        return bytes;
    }
};

// KT430A2B: ranges 0000-3FFF and 6000-EFDF, 15 blocks of 4 KiB, a 32-byte
// reserved tail; its flash holds 4000H + 9000H bytes at block level.
TEST_F(FlashSimTest, WriteReadBackAndEraseRoundTrip) {
    startSim({"--trg", SimProcess::sampleTrg("KT430A2B")});
    CFlashApi flash(sim->socketPath(0).c_str());
    ASSERT_EQ(flash.getStatus(), FlashStatusOk);
    flash.setTargetInfo(sampleTarget("KT430A2B"));
    ASSERT_EQ(flash.checkFlashSize(0xF000), 1);
    ASSERT_EQ(flash.checkFlashSize(0xF001), 0);
    constexpr uint32_t kInRange = 0x4000 + 0x9000;
    constexpr uint32_t kSecondRange = 0x4000;  // where 6000H lands in the packed read

    ASSERT_EQ(flash.FlashEraseChip(), 1);
    EXPECT_EQ(readAll(flash, kInRange), Bytes(kInRange, 0xFF));

    Bytes image(0x10000, 0xFF);
    for (uint32_t a = 0x6000; a < 0x8345; ++a) image[a] = static_cast<uint8_t>(a * 13 + 1);
    ASSERT_EQ(flash.FlashWrite(0x6000, 0x8344, 0x6000, image.data()), 1);

    const Bytes serial{0xDE, 0xAD, 0xBE, 0xEF};
    flash.setSN(serial.data(), 4);
    Bytes low(0x400, 0x42);
    uint32_t sent = 0;
    ASSERT_EQ(flash.FlashWrite_trans_WithSN(0x100, 0x400, low.data(), &sent, 0x120), 1);
    ASSERT_EQ(flash.FlashWrite_receive(), 1);
    EXPECT_EQ(low, Bytes(0x400, 0x42));
    for (uint32_t i = 0; i < sent; ++i) image[0x100 + i] = i >= 0x20 && i < 0x24 ? serial[i - 0x20] : 0x42;

    Bytes expected(kInRange);
    std::copy(image.begin(), image.begin() + 0x4000, expected.begin());
    std::copy(image.begin() + 0x6000, image.begin() + 0xF000, expected.begin() + kSecondRange);
    EXPECT_EQ(readAll(flash, kInRange), expected);

    uint16_t word = 0;
    ASSERT_EQ(flash.FlashReadRand(0x6002, word), 1);
    EXPECT_EQ(word, image[0x6002] << 8 | image[0x6003]);

    ASSERT_EQ(flash.FlashEraseBlock(0x6800), 1);
    std::fill(expected.begin() + kSecondRange, expected.begin() + kSecondRange + 0x1000, 0xFF);
    EXPECT_EQ(readAll(flash, kInRange), expected);

    ASSERT_EQ(flash.FlashEraseChip(), 1);
    EXPECT_EQ(readAll(flash, kInRange), Bytes(kInRange, 0xFF));
}

TEST_F(FlashSimTest, LastBlockIsReadWithItsReservedTail) {
    startSim({"--trg", SimProcess::sampleTrg("KT430A2B")});
    CFlashApi flash(sim->socketPath(0).c_str());
    flash.setTargetInfo(sampleTarget("KT430A2B"));
    ASSERT_EQ(flash.FlashEraseChip(), 1);
    Bytes tail(0x20, 0x5C);
    ASSERT_EQ(flash.FlashWrite(0, 0x1F, 0xEFE0 - 0x20, tail.data()), 1);  // the last in-range bytes

    Bytes block(0x1000);
    uint32_t count = 0;
    ASSERT_EQ(flash.FlashReadBlock(0xE000, count, block.data()), 1);
    ASSERT_EQ(count, 0x1000u);
    EXPECT_EQ(Bytes(block.end() - 0x40, block.end() - 0x20), tail);
    EXPECT_EQ(Bytes(block.end() - 0x20, block.end()), Bytes(0x20, 0xFF));
}

TEST_F(FlashSimTest, ProtectionLiftsOnlyWithTheSecurityId) {
    startSim({"--trg", SimProcess::sampleTrg("KT51456"), "--security-id", "0123456789AB"});
    CFlashApi flash(sim->socketPath(0).c_str());
    flash.setTargetInfo(sampleTarget("KT51456"));

    uint16_t protection = 0;
    ASSERT_EQ(flash.FlashReadProtect(&protection), 1);
    EXPECT_NE(protection, 0);
    Bytes block(0x2000);
    uint32_t count = 0;
    EXPECT_EQ(flash.FlashReadBlock(0, count, block.data()), 0);
    EXPECT_NE(flash.getStatus(), FlashStatusOk);

    const uint16_t wrong[] = {0x0123, 0x4567, 0x89AC};
    ASSERT_EQ(flash.FlashUnlockProtect(3, wrong), 1);
    ASSERT_EQ(flash.FlashReadProtect(&protection), 1);
    EXPECT_NE(protection, 0);

    const uint16_t right[] = {0x0123, 0x4567, 0x89AB};
    ASSERT_EQ(flash.FlashUnlockProtect(3, right), 1);
    ASSERT_EQ(flash.FlashReadProtect(&protection), 1);
    EXPECT_EQ(protection, 0);
    EXPECT_EQ(flash.FlashReadBlock(0, count, block.data()), 1);
    EXPECT_EQ(flash.getStatus(), FlashStatusOk);
}

}  // namespace
