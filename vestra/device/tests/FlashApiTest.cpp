#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/FlashApi.h"
#include "usb/tests/EmulatorDevice.h"

namespace {

using vestra::usb::testing::Bytes;
using vestra::usb::testing::EmulatorDevice;
using vestra::usb::testing::FakeUsbBackend;
using vestra::usb::testing::FakeUsbDevice;
using Lines = std::vector<std::string>;

constexpr const char* kPath = "usb:3-1";
constexpr uint32_t kMemorySize = 0x20000;

// Differs from block to block and from the erased state.
Bytes patternedMemory(uint32_t size) {
    Bytes bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + (i >> 10)) % 251);
    return bytes;
}

// Two ranges with a gap, block size 0x400, 0x7F blocks (low nibble 0xF in
// targetId32, high nibble 7 in targetId64 since the product ID is not 64 bits).
CTargetInfo twoRangeTarget(uint32_t reservedTail) {
    CTargetInfo info{};
    std::strcpy(info.targetName, "KT1234");
    info.targetId32 = 0x00000F00;
    info.targetId64 = 0x00000070;
    info.targetIdBitNum = 93;
    info.areaNum = 2;
    info.area[0] = {0x00000, 0x0F7FF};
    info.area[1] = {0x10000, 0x1F9FF};
    info.blockSize = 0x400;
    info.reservedSize2 = reservedTail;
    return info;
}

// The chip of twoRangeTarget(0x200), erased: the tail of the last block is flash.
korvo::ChipDescription twoRangeChip() {
    korvo::ChipDescription chip;
    chip.flash = {{0x00000, 0x0F7FF}, {0x10000, 0x1FBFF}};
    chip.blockSize = 0x400;
    return chip;
}

class FlashApiTest : public ::testing::Test {
protected:
    FlashApiTest() { flash.setTargetInfo(twoRangeTarget(0x200)); }

    Bytes memory(uint32_t address, uint32_t length) const { return emulator.memory(address, length); }
    void fillWithPattern() { emulator.chip().loadImage(patternedMemory(kMemorySize)); }

    FakeUsbBackend backend;
    FakeUsbDevice& device = backend.addDevice(kPath);
    EmulatorDevice emulator{device, twoRangeChip(), "9.99"};
    CFlashApi flash{kPath};
};

TEST_F(FlashApiTest, NewObjectIsReachableEnabledAndUnplugged) {
    EXPECT_EQ(flash.getStatus(), FlashStatusOk);
    EXPECT_EQ(flash.getEnableFlg(), 1);
    EXPECT_EQ(flash.getPlugStatus(), PlugNone);
    EXPECT_EQ(flash.getFirmVer(), 0u);
}

TEST(FlashApiConstruction, DeviceThatCannotBeOpenedGetsStatus5005) {
    FakeUsbBackend backend;
    backend.addDevice(kPath).failOpens(-1);
    CFlashApi flash{kPath};
    EXPECT_EQ(flash.getStatus(), FlashErrUnreachable);
}

TEST(FlashApiTargetInfo, LastBlockIndexComesFromTheIdNibbles) {
    FakeUsbBackend backend;
    CFlashApi flash{kPath};
    CTargetInfo info = twoRangeTarget(0x200);
    flash.setTargetInfo(info);
    EXPECT_EQ(flash.getLastBlockIndex(), 0x7E);

    info.targetIdBitNum = 64;  // short form: the high nibble is not used
    flash.setTargetInfo(info);
    EXPECT_EQ(flash.getLastBlockIndex(), 0x0E);

    info.targetId32 = 0;  // a block count of 0 wraps
    flash.setTargetInfo(info);
    EXPECT_EQ(flash.getLastBlockIndex(), 0xFF);
}

TEST(FlashApiTargetInfo, CopiesOnlyTheDeclaredAreasAndTheSecurityBit) {
    FakeUsbBackend backend;
    CFlashApi flash{kPath};
    CTargetInfo info = twoRangeTarget(0x200);
    info.area[2] = {0x30000, 0x3FFFF};  // beyond areaNum: not part of the description
    info.targetId32 |= 1u << 23;
    flash.setTargetInfo(info);
    EXPECT_STREQ(flash.getTargetInfo()->targetName, "KT1234");
    EXPECT_EQ(flash.getTargetInfo()->area[2].endAdrs, 0u);
    EXPECT_EQ(flash.checkSingleAddress(0x30000), 0);
    EXPECT_EQ(flash.getSecType(), 1);

    info.areaNum = 1000;  // damaged count: held to the array's size
    flash.setTargetInfo(info);
    EXPECT_EQ(flash.getTargetInfo()->areaNum, VESTRA_MAX_AREAS);
}

TEST_F(FlashApiTest, AddressChecksAreInclusiveAndRejectTheGap) {
    for (uint32_t address : {0x00000u, 0x0F7FFu, 0x10000u, 0x1F9FFu}) {
        EXPECT_EQ(flash.checkSingleAddress(address), 1) << std::hex << address;
    }
    for (uint32_t address : {0x0F800u, 0x0FFFFu, 0x1FA00u}) {
        EXPECT_EQ(flash.checkSingleAddress(address), 0) << std::hex << address;
    }
}

TEST_F(FlashApiTest, FlashSizeCoversTheLastBlockWhateverTheTail) {
    EXPECT_EQ(flash.checkFlashSize(0x1FC00), 1);
    EXPECT_EQ(flash.getFlashSize(), 0x1FC00u);
    EXPECT_EQ(flash.checkFlashSize(0x1FC01), 0);

    flash.setTargetInfo(twoRangeTarget(0x100));
    EXPECT_EQ(flash.checkFlashSize(0), 1);
    EXPECT_EQ(flash.getFlashSize(), 0x1FC00u);
}

TEST_F(FlashApiTest, WritableRunEndsAtTheBlockEndOrTheRangeEnd) {
    uint32_t end = 0;
    ASSERT_EQ(flash.getEndAddrBlock(0x1F900, end), 1);
    EXPECT_EQ(end, 0x1FBFFu);  // range end + tail 0x200 is the block end
    ASSERT_EQ(flash.getEndAddrBlock(0x1234, end), 1);
    EXPECT_EQ(end, 0x13FFu);
    ASSERT_EQ(flash.getEndAddrBlock(0xF500, end), 1);
    EXPECT_EQ(end, 0xF7FFu);
    EXPECT_EQ(flash.getEndAddrBlock(0xF800, end), 0);

    flash.setTargetInfo(twoRangeTarget(0x100));
    ASSERT_EQ(flash.getEndAddrBlock(0x1F900, end), 1);
    EXPECT_EQ(end, 0x1F9FFu);
}

TEST_F(FlashApiTest, ReadBlockAddsTheReservedTailOfTheLastBlock) {
    fillWithPattern();
    Bytes buffer(0x400);
    uint32_t count = 0;
    ASSERT_EQ(flash.FlashReadBlock(0x1F900, count, buffer.data()), 1);
    EXPECT_EQ(count, 0x400u);
    EXPECT_EQ(buffer, memory(0x1F800, 0x400));
    // One block of 0x400 bytes in commands of at most 1000.
    EXPECT_EQ(emulator.commands(), (Lines{"read memory at 0001F800, 1000 bytes", "read memory at 0001FBE8, 24 bytes"}));

    flash.setTargetInfo(twoRangeTarget(0x100));
    ASSERT_EQ(flash.FlashReadBlock(0x1F800, count, buffer.data()), 1);
    EXPECT_EQ(count, 0x200u);
}

// What a block read delivers can be written back: a write may start in the
// reserved tail, but not beyond it.
TEST_F(FlashApiTest, WritesMayStartInTheReservedTail) {
    const Bytes image(16, 0x42);
    ASSERT_EQ(flash.FlashWrite(0, 15, 0x1FBF0, image.data()), 1);
    EXPECT_EQ(memory(0x1FBF0, 16), image);
    flash.setTargetInfo(twoRangeTarget(0x100));
    EXPECT_EQ(flash.FlashWrite(0, 15, 0x1FB00, image.data()), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrWriteAddress);
}

TEST_F(FlashApiTest, ReadBlockPacksTheRangesInsideTheBlock) {
    CTargetInfo info = twoRangeTarget(0);
    info.areaNum = 2;
    info.area[0] = {0x0000, 0x00FF};
    info.area[1] = {0x0300, 0x03FF};
    flash.setTargetInfo(info);
    fillWithPattern();
    Bytes buffer(0x400, 0xEE);
    uint32_t count = 0;
    ASSERT_EQ(flash.FlashReadBlock(0x0010, count, buffer.data()), 1);
    ASSERT_EQ(count, 0x200u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 0x100), memory(0, 0x100));
    EXPECT_EQ(Bytes(buffer.begin() + 0x100, buffer.begin() + 0x200), memory(0x300, 0x100));

    ASSERT_EQ(flash.FlashReadBlock(0x0F800, count, buffer.data()), 1);  // a block outside every range
    EXPECT_EQ(count, 0u);
}

TEST_F(FlashApiTest, ContinuousReadOfNothingSendsNothing) {
    uint32_t count = 99;
    EXPECT_EQ(flash.FlashReadCont(0, &count, nullptr), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(emulator.commands().empty());
}

TEST_F(FlashApiTest, ContinuousReadStoresExactlyTheRequestedSize) {
    fillWithPattern();
    const uint32_t size = 0x500;  // one and a quarter blocks
    Bytes buffer(size + 16, 0xEE);
    uint32_t count = 0;
    ASSERT_EQ(flash.FlashReadCont(size, &count, buffer.data()), 1);
    EXPECT_EQ(count, size);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), memory(0, size));
    EXPECT_EQ(buffer[size], 0xEE);  // nothing beyond the requested size
    EXPECT_EQ(buffer.back(), 0xEE);
}

TEST_F(FlashApiTest, ContinuousReadSkipsTheGapBetweenRanges) {
    fillWithPattern();
    const uint32_t inRange = 0xF800 + 0x200;  // all of range 1, then two blocks of range 2
    Bytes buffer(inRange);
    uint32_t count = 0;
    ASSERT_EQ(flash.FlashReadCont(inRange, &count, buffer.data()), 1);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 0xF800), memory(0, 0xF800));
    EXPECT_EQ(Bytes(buffer.begin() + 0xF800, buffer.end()), memory(0x10000, 0x200));
}

TEST_F(FlashApiTest, ContinuousReadNeverReadsBeyondTheFlashSize) {
    // The ranges hold 0xF800 + 0xFC00 bytes, less than the flash size 0x1FC00.
    const uint32_t available = 0xF800 + 0xFC00;
    Bytes buffer(0x1FC00);
    uint32_t count = 0;
    EXPECT_EQ(flash.FlashReadCont(0x1FC00, &count, buffer.data()), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrReadSize);
    EXPECT_EQ(count, available);
    EXPECT_EQ(emulator.commands().back(), "read memory at 0001FBE8, 24 bytes");  // ends at the flash size

    ASSERT_EQ(flash.FlashReadCont(available, &count, buffer.data()), 1);
    EXPECT_EQ(count, available);
}

TEST_F(FlashApiTest, ContinuousReadBeyondTheFlashSizeFailsWithoutTraffic) {
    uint32_t count = 0;
    Bytes buffer(16);
    EXPECT_EQ(flash.FlashReadCont(0x1FC01, &count, buffer.data()), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrReadSize);
    EXPECT_TRUE(emulator.commands().empty());
}

TEST_F(FlashApiTest, ContinuousReadStopsAtARefusedBlock) {
    emulator.refuse(3, 0x6300);  // first chunk of the second block
    Bytes buffer(0x800);
    uint32_t count = 0;
    EXPECT_EQ(flash.FlashReadCont(0x800, &count, buffer.data()), 0);
    EXPECT_EQ(flash.getStatus(), 0x6300u);
    EXPECT_EQ(emulator.commands().size(), 3u);
}

TEST_F(FlashApiTest, WriteSendsTheIndexedBytesInChunksOf1000) {
    const Bytes image = patternedMemory(3000);
    ASSERT_EQ(flash.FlashWrite(100, 2599, 0x2000, image.data()), 1);  // 2500 bytes
    EXPECT_EQ(emulator.commands(), (Lines{"write memory at 00002000, 1000 bytes",
                                          "write memory at 000023E8, 1000 bytes",
                                          "write memory at 000027D0, 500 bytes"}));
    EXPECT_EQ(memory(0x2000, 2500), Bytes(image.begin() + 100, image.begin() + 2600));
}

TEST_F(FlashApiTest, WriteOfAnEmptyRangeSendsNothing) {
    const Bytes image(16);
    EXPECT_EQ(flash.FlashWrite(5, 4, 0x2000, image.data()), 1);
    EXPECT_EQ(flash.FlashWrite(9, 4, 0x2000, image.data()), 1);
    // 0 .. 0xFFFFFFFF counts 2^32 bytes, 0 in 32 bits: nothing, not 4 GiB.
    EXPECT_EQ(flash.FlashWrite(0, 0xFFFFFFFF, 0x2000, image.data()), 1);
    EXPECT_TRUE(emulator.commands().empty());
}

TEST_F(FlashApiTest, SerialNumberWriteWithoutDataIsRefusedUnsent) {
    const Bytes serial{0xA1, 0xA2};
    flash.setSN(serial.data(), 2);
    uint32_t sent = 0;
    EXPECT_EQ(flash.FlashWrite_trans_WithSN(0x1000, 16, nullptr, &sent, 0x1004), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrFrameWrite);
    EXPECT_EQ(sent, 0u);
    EXPECT_TRUE(emulator.commands().empty());
}

TEST_F(FlashApiTest, WriteStopsAtTheFirstRefusedChunk) {
    const Bytes image(2500);
    emulator.refuse(2, 0x6308);
    EXPECT_EQ(flash.FlashWrite(0, 2499, 0x2000, image.data()), 0);
    EXPECT_EQ(flash.getStatus(), 0x6308u);
    EXPECT_EQ(emulator.commands().size(), 2u);
}

TEST_F(FlashApiTest, AddressChecksFailWithTheirCodesBeforeAnyTraffic) {
    const Bytes image(16);
    uint32_t sent = 0;
    uint16_t word = 0;
    EXPECT_EQ(flash.FlashWrite(0, 15, 0xF800, image.data()), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrWriteAddress);
    EXPECT_EQ(flash.FlashWrite_trans(0x1FC00, 16, image.data(), &sent), 0);  // past the last block
    EXPECT_EQ(flash.getStatus(), FlashErrWriteAddress);
    EXPECT_EQ(flash.FlashEraseBlock(0xFC00), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrEraseAddress);
    EXPECT_EQ(flash.FlashEraseBlock_trans(0xFC00), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrEraseAddress);
    EXPECT_EQ(flash.FlashReadRand(0xFFFF, word), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrWordAddress);
    EXPECT_TRUE(emulator.commands().empty());
}

TEST_F(FlashApiTest, SendOnlyWriteTakesOneChunk) {
    const Bytes image(2500, 0x5A);
    uint32_t sent = 0;
    ASSERT_EQ(flash.FlashWrite_trans(0x1000, 2500, image.data(), &sent), 1);
    EXPECT_EQ(sent, 1000u);
    ASSERT_EQ(flash.FlashWrite_receive(), 1);
    EXPECT_EQ(emulator.commands(), Lines{"write memory at 00001000, 1000 bytes"});
}

TEST_F(FlashApiTest, SerialNumberLandsInTheChunkThatHoldsItsAddress) {
    const Bytes serial{0xA1, 0xA2, 0xA3, 0xA4};
    flash.setSN(serial.data(), 4);
    const Bytes image(2000, 0x11);
    uint32_t sent = 0;
    ASSERT_EQ(flash.FlashWrite_trans_WithSN(0x000, 2000, image.data(), &sent, 0x3FE), 1);
    ASSERT_EQ(flash.FlashWrite_receive(), 1);
    ASSERT_EQ(flash.FlashWrite_trans_WithSN(0x3E8, 1000, image.data() + 1000, &sent, 0x3FE), 1);
    ASSERT_EQ(flash.FlashWrite_receive(), 1);

    // The first write ends at 0x3E7, before the serial number.
    EXPECT_EQ(emulator.commands(),
              (Lines{"write memory at 00000000, 1000 bytes", "write memory at 000003E8, 1000 bytes"}));
    Bytes expected(2000, 0x11);
    std::copy(serial.begin(), serial.end(), expected.begin() + 0x3FE);
    EXPECT_EQ(memory(0, 2000), expected);
    EXPECT_EQ(image, Bytes(2000, 0x11));  // the caller's image is never changed
}

TEST_F(FlashApiTest, SerialNumberStraddlingTwoChunksIsSplitBetweenThem) {
    const Bytes serial{0xB1, 0xB2, 0xB3, 0xB4};
    flash.setSN(serial.data(), 4);
    const Bytes image(2000, 0x22);
    uint32_t sent = 0;
    for (uint32_t offset : {0u, 1000u}) {
        ASSERT_EQ(flash.FlashWrite_trans_WithSN(offset, 2000 - offset, image.data() + offset, &sent, 998), 1);
        ASSERT_EQ(flash.FlashWrite_receive(), 1);
    }
    EXPECT_EQ(emulator.commands().size(), 2u);
    EXPECT_EQ(memory(997, 6), (Bytes{0x22, 0xB1, 0xB2, 0xB3, 0xB4, 0x22}));
}

TEST_F(FlashApiTest, EmptySerialNumberChangesNothing) {
    const Bytes serial{0xC1};
    flash.setSN(serial.data(), 0);
    const Bytes image(100, 0x33);
    uint32_t sent = 0;
    ASSERT_EQ(flash.FlashWrite_trans_WithSN(0, 100, image.data(), &sent, 0), 1);
    ASSERT_EQ(flash.FlashWrite_receive(), 1);
    EXPECT_EQ(memory(0, 100), image);
}

TEST_F(FlashApiTest, SerialNumberIsHandedOutOnlyIntoABufferThatHoldsIt) {
    const Bytes serial{1, 2, 3, 4, 5};
    flash.setSN(serial.data(), 5);
    Bytes small(4, 0xEE);
    uint32_t length = 0;
    flash.getSN(small.data(), 4, &length);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(small, Bytes(4, 0xEE));
    Bytes exact(5);
    flash.getSN(exact.data(), 5, &length);
    EXPECT_EQ(exact, serial);
}

TEST_F(FlashApiTest, BlockEraseAddressesTheStartOfTheBlock) {
    fillWithPattern();
    ASSERT_EQ(flash.FlashEraseBlock(0x1234), 1);
    EXPECT_EQ(emulator.commands(), Lines{"erase block at 00001000"});
    EXPECT_EQ(memory(0x1000, 0x400), Bytes(0x400, 0xFF));
    EXPECT_NE(memory(0x1400, 1)[0], 0xFF);
}

TEST_F(FlashApiTest, SetTargetInfoChecksItsArgumentsBeforeSending) {
    EXPECT_EQ(flash.KorvoSetTargetInfo(0x2000, 0x1000, 0), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrTargetInfoArgs);
    EXPECT_EQ(flash.KorvoSetTargetInfo(0x1000, 0x2000, 0xF800), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrTargetInfoArgs);
    EXPECT_TRUE(emulator.commands().empty());

    ASSERT_EQ(flash.KorvoSetTargetInfo(0x1000, 0x2000, 0), 1);
    EXPECT_EQ(emulator.commands(), Lines{"set target info: ROM window 1000-2000, flash address 00000000, flag 00"});
}

TEST_F(FlashApiTest, OperationsClearTheStatusAndKeepTheEmulatorsCode) {
    flash.setStatus(static_cast<FlashStatus>(0x6300));
    ASSERT_EQ(flash.TargetChipReset(), 1);
    EXPECT_EQ(flash.getStatus(), FlashStatusOk);

    emulator.refuse(1, 0x6100);
    uint16_t word = 0x7777;
    EXPECT_EQ(flash.FlashReadProtect(&word), 0);
    EXPECT_EQ(flash.getStatus(), 0x6100u);
    EXPECT_EQ(word, 0x7777);  // outputs untouched on failure
}

TEST_F(FlashApiTest, ReceiveHalvesAndErrorIndicationKeepTheStatus) {
    ASSERT_EQ(flash.FlashEraseBlock_trans(0x0400), 1);
    flash.setStatus(static_cast<FlashStatus>(0x1234));
    ASSERT_EQ(flash.FlashEraseBlock_receive(), 1);
    EXPECT_EQ(flash.getStatus(), 0x1234u);

    ASSERT_EQ(flash.ErrorFunction(), 1);
    EXPECT_EQ(flash.getStatus(), 0x1234u);
    EXPECT_EQ(emulator.emulator().errorIndications(), 1u);

    uint8_t result = 0;
    emulator.emulator().faults().powerOn = true;  // system resets fail with status 1
    ASSERT_EQ(flash.TargetSystemReset_trans(1), 1);
    EXPECT_EQ(flash.TargetSystemReset_receive(&result), 0);
    EXPECT_EQ(flash.getStatus(), 0x0001u);
}

TEST(FlashApiWithoutTarget, EveryAddressCheckFails) {
    FakeUsbBackend backend;
    FakeUsbDevice& device = backend.addDevice(kPath);
    CFlashApi flash{kPath};
    uint32_t count = 0;
    Bytes buffer(16);
    EXPECT_EQ(flash.checkSingleAddress(0), 0);
    EXPECT_EQ(flash.checkFlashSize(0), 1);
    EXPECT_EQ(flash.getFlashSize(), 0u);
    EXPECT_EQ(flash.FlashReadCont(1, &count, buffer.data()), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrReadSize);
    count = 7;
    EXPECT_EQ(flash.FlashReadBlock(0, count, buffer.data()), 0);
    EXPECT_EQ(flash.getStatus(), FlashErrReadSize);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(device.writtenFrames().empty());
}

}  // namespace
