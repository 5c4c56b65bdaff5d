#include <algorithm>
#include <string>
#include <vector>

#include "SystemFixture.h"

namespace system_testing {
namespace {

using korvo::testing::SimProcess;

constexpr uint32_t kImageSize = 0x10000;
constexpr uint32_t kChunk = 1000;
constexpr uint32_t kBlockSize = 0x8000;

std::vector<uint8_t> image() {
    std::vector<uint8_t> bytes(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i) bytes[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ 0x5A);
    return bytes;
}

bool isLinkError(int status) { return status >= 0x5000 && status <= 0x5005; }

// Number of whole 1000-byte chunks at the start of `memory` that hold the
// image; -1 unless every later byte is still erased.
int writtenChunks(const std::vector<uint8_t>& memory, const std::vector<uint8_t>& expected) {
    if (memory.size() < expected.size()) return -1;
    uint32_t chunks = 0;
    while (chunks * kChunk < expected.size()) {
        const uint32_t from = chunks * kChunk, to = std::min<uint32_t>(from + kChunk, kImageSize);
        if (!std::equal(expected.begin() + from, expected.begin() + to, memory.begin() + from)) break;
        ++chunks;
    }
    const bool restErased = std::all_of(memory.begin() + std::min<size_t>(chunks * kChunk, kImageSize),
                                        memory.end(), [](uint8_t b) { return b == 0xFF; });
    return restErased ? static_cast<int>(chunks) : -1;
}

using FaultTest = SystemTest;

// Costs one answer time-out of the link (10 s).
TEST_F(FaultTest, EmulatorThatFallsSilentMidWriteIsDroppedWhileTheOtherFinishes) {
    startSim({"--trg", SimProcess::sampleTrg("KT430735"), "--emulators", "2",
              "--emulator", "1:fault=silent-after:20"});
    connect(2);
    plugAll("KT430735");
    ASSERT_EQ(plugStatus(1), PlugSuccess);
    ASSERT_EQ(plugStatus(2), PlugSuccess);

    std::vector<uint8_t> bytes = image();
    ASSERT_EQ(api->ApiFlashWriteAll(0, kImageSize - 1, 0, bytes.data()), 1);
    EXPECT_EQ(status(1), 0);
    EXPECT_EQ(status(2), 0x5000);

    disconnectAndStop();
    EXPECT_EQ(writtenChunks(dump(0), bytes), 66);
    const int silentChunks = writtenChunks(dump(1), bytes);
    EXPECT_GT(silentChunks, 0);
    EXPECT_LT(silentChunks, 20);
}

TEST_F(FaultTest, EmulatorStatusPassesThroughAndKeepsTheTargetOut) {
    startSim({"--trg", SimProcess::sampleTrg("KT430735"), "--emulators", "2",
              "--emulator", "0:fault=status:10:6309"});
    connect(2);
    plugAll("KT430735");

    std::vector<uint8_t> bytes = image();
    ASSERT_EQ(api->ApiFlashWriteAll(0, kImageSize - 1, 0, bytes.data()), 1);
    EXPECT_EQ(status(1), 0x6309);
    EXPECT_EQ(status(2), 0);

    ASSERT_EQ(api->ApiFlashEraseBlockAll(0), 1);
    EXPECT_EQ(status(1), 0x6309);
    disconnectAndStop();
    const std::vector<uint8_t> erasedFirstBlock = dump(1);
    ASSERT_GE(erasedFirstBlock.size(), kImageSize);
    EXPECT_TRUE(std::all_of(erasedFirstBlock.begin(), erasedFirstBlock.begin() + kBlockSize,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(bytes.begin() + kBlockSize, bytes.end(), erasedFirstBlock.begin() + kBlockSize));
    const int refusedChunks = writtenChunks(dump(0), bytes);
    EXPECT_GE(refusedChunks, 1);
    EXPECT_LT(refusedChunks, 10);
}

TEST_F(FaultTest, DisconnectedEmulatorShowsALinkStatusAfterEveryOperation) {
    startSim({"--trg", SimProcess::sampleTrg("KT430735"), "--emulators", "2",
              "--emulator", "1:fault=disconnect-after:8"});
    connect(2);
    plugAll("KT430735");
    ASSERT_EQ(plugStatus(2), PlugSuccess);

    std::vector<uint8_t> bytes = image();
    api->ApiFlashWriteAll(0, kImageSize - 1, 0, bytes.data());
    EXPECT_EQ(status(1), 0);
    EXPECT_TRUE(isLinkError(status(2))) << std::hex << status(2);

    api->ApiSetTargetStatus(2, 0);
    api->ApiFlashEraseBlockAll(kImageSize);  // beyond the image: target 1 keeps it
    EXPECT_TRUE(isLinkError(status(2))) << std::hex << status(2);

    api->ApiSetTargetStatus(2, 0);
    uint16_t isProtected = 0;
    api->ApiIsTargetProtected(2, &isProtected);
    EXPECT_EQ(isProtected, 1);
    EXPECT_TRUE(isLinkError(status(2))) << std::hex << status(2);

    api->ApiSetTargetStatus(2, 0);
    std::vector<uint8_t> readBack(kImageSize);
    uint32_t got = 0;
    api->ApiFlashRead(2, kImageSize, &got, readBack.data());
    EXPECT_TRUE(isLinkError(status(2))) << std::hex << status(2);

    api->ApiSysReset(2);
    EXPECT_TRUE(isLinkError(status(2))) << std::hex << status(2);

    ASSERT_EQ(api->ApiFlashRead(1, kImageSize, &got, readBack.data()), 1);
    EXPECT_EQ(readBack, bytes);
    EXPECT_EQ(status(1), 0);
}

// Every read memory answer among the first frames carries half the bytes.
TEST_F(FaultTest, ShortReadAnswerIsALinkErrorAndNothingOfItCountsAsRead) {
    std::string faults = "0:fault=short:1";
    for (int frame = 2; frame <= 80; ++frame) faults += ",short:" + std::to_string(frame);
    startSim({"--trg", SimProcess::sampleTrg("KT430735"), "--emulator", faults});
    connect(1);
    plugAll("KT430735");
    ASSERT_EQ(plugStatus(1), PlugSuccess);

    std::vector<uint8_t> block(kBlockSize, 0xEE);
    uint32_t got = 99;
    api->ApiFlashReadBlock(1, 0, &got, block.data());
    EXPECT_EQ(status(1), 0x5000);
    EXPECT_EQ(got, 0u);

    api->ApiSetTargetStatus(1, 0);
    std::vector<uint8_t> readBack(kImageSize, 0xEE);
    got = 99;
    api->ApiFlashRead(1, kImageSize, &got, readBack.data());
    EXPECT_EQ(status(1), 0x5000);
    EXPECT_EQ(got, 0u);
}

// 0 .. 0xFFFFFFFF holds 2^32 bytes, a count of 0 in 32 bits: nothing is written.
TEST_F(FaultTest, WriteRangeWhoseCountWrapsToZeroWritesNothing) {
    startSim({"--trg", SimProcess::sampleTrg("KT430735")});
    connect(1);
    plugAll("KT430735");
    std::vector<uint8_t> bytes = image();
    EXPECT_EQ(api->ApiFlashWriteAll(0, 0xFFFFFFFF, 0, bytes.data()), 1);
    EXPECT_EQ(api->ApiFlashWriteAllWithSN(0, 0xFFFFFFFF, 0, bytes.data(), 0), 1);
    EXPECT_EQ(status(1), 0);
    disconnectAndStop();
    const std::vector<uint8_t> memory = dump(0);
    EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace system_testing
