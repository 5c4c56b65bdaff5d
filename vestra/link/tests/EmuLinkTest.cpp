#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <shared_mutex>
#include <string>
#include <thread>

#include "link/EmuLink.h"
#include "usb/tests/FakeUsbBackend.h"

namespace {

using vestra::usb::testing::Bytes;
using vestra::usb::testing::FakeEvent;
using vestra::usb::testing::FakeTransfer;
using vestra::usb::testing::FakeUsbBackend;
using vestra::usb::testing::FakeUsbDevice;
using Kind = FakeEvent::Kind;

constexpr const char* kPath = "usb:2-1";

Bytes answerFrame(uint8_t sequence, const Bytes& payload, const char* signature = "CHPM", uint8_t version = 0x01) {
    Bytes frame(signature, signature + 4);
    const auto n = static_cast<uint32_t>(payload.size());
    frame.insert(frame.end(), {version, sequence, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});
    frame.insert(frame.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 24)});
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

Bytes payloadOf(const Bytes& frame) {
    return Bytes(frame.begin() + 16, frame.end());
}

class EmuLinkTest : public ::testing::Test {
protected:
    // Every request is answered with `payload`, echoing its sequence number.
    void answerEveryRequestWith(Bytes payload) {
        emulator.setResponder([payload](const Bytes& frame) {
            return std::vector<Bytes>{answerFrame(frame[5], payload)};
        });
    }

    // The next request is answered with `payload` under the link's current number.
    void answerNext(const Bytes& payload) { emulator.queueAnswer(answerFrame(link.getSequence(), payload)); }

    Bytes lastRequest() const { return payloadOf(emulator.writtenFrames().back()); }

    FakeUsbBackend backend;
    FakeUsbDevice& emulator = backend.addDevice(kPath);
    CEmuLink link{kPath};
};

TEST_F(EmuLinkTest, GoldenEraseChipFrame) {
    answerEveryRequestWith({0x00, 0x00});
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(link.ChipReset(), 1);
    }
    ASSERT_EQ(link.EraseChip(), 1);
    EXPECT_EQ(emulator.writtenFrames().back(),
              (Bytes{0x43, 0x48, 0x52, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00,
                     0x12, 0x10}));
}

TEST_F(EmuLinkTest, GoldenReadMemoryFrameAndItsCapacity) {
    answerEveryRequestWith({0x00, 0x00});
    for (int i = 0; i < 0x2A; ++i) {
        ASSERT_EQ(link.ChipReset(), 1);
    }
    emulator.setResponder(nullptr);
    Bytes full{0x00, 0x00, 0x01, 0x00};
    full.resize(0x104, 0x5A);
    answerNext(full);
    Bytes buffer(0x100);
    ASSERT_EQ(link.ReadMemory(0x1F800, 0x100, buffer.data()), 1);
    EXPECT_EQ(emulator.writtenFrames().back(),
              (Bytes{0x43, 0x48, 0x52, 0x4D, 0x01, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0B, 0x00,
                     0x00, 0x00, 0x05, 0x10, 0x30, 0x2B, 0x00, 0x01, 0xF8, 0x00, 0x01, 0x00, 0x02}));
    EXPECT_EQ(buffer, Bytes(0x100, 0x5A));

    full.push_back(0x5A);  // one byte over the capacity
    answerNext(full);
    EXPECT_EQ(link.ReadMemory(0x1F800, 0x100, buffer.data()), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
}

TEST_F(EmuLinkTest, SequenceStartsAtZeroAndWraps) {
    answerEveryRequestWith({0x00, 0x00});
    EXPECT_EQ(link.getSequence(), 0);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(link.ChipReset(), 1) << i;
    }
    EXPECT_EQ(link.getSequence(), 0);
    const auto frames = emulator.writtenFrames();
    EXPECT_EQ(frames.front()[5], 0);
    EXPECT_EQ(frames[255][5], 255);
}

TEST_F(EmuLinkTest, FailedSendAdvancesTheSequenceAndClosesTheDevice) {
    emulator.queueWrite(FakeTransfer::timeout());
    EXPECT_EQ(link.EraseChip_trans(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrFrameWrite);
    EXPECT_EQ(link.getSequence(), 1);
    EXPECT_FALSE(emulator.isOpen());

    // The next exchange reopens the device (with a bus reset) and carries number 1.
    answerEveryRequestWith({0x00, 0x00});
    emulator.clearEvents();
    EXPECT_EQ(link.ChipReset(), 1);
    EXPECT_EQ(emulator.writtenFrames().front()[5], 1);
    EXPECT_EQ(emulator.events().front().kind, Kind::Open);
}

TEST_F(EmuLinkTest, WriteOfNoBytesClearsTheHaltAndFails) {
    emulator.queueWrite(FakeTransfer::accept(0));
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrFrameWrite);
    ASSERT_EQ(emulator.events(Kind::ClearHalt).size(), 1u);
    EXPECT_EQ(emulator.events(Kind::ClearHalt)[0].pipe, 0);
    EXPECT_FALSE(emulator.isOpen());
}

TEST_F(EmuLinkTest, SendOnlyKeepsTheNumberForItsReceiveHalf) {
    ASSERT_EQ(link.SystemReset_trans(0x03), 1);
    EXPECT_EQ(link.getSequence(), 0);
    EXPECT_EQ(lastRequest(), (Bytes{0x07, 0x06, 0x03}));
    EXPECT_EQ(emulator.queuedAnswers(), 0u);

    answerNext({0x00, 0x00, 0x7E});
    uint8_t result = 0;
    ASSERT_EQ(link.SystemReset_receive(result), 1);
    EXPECT_EQ(result, 0x7E);
    EXPECT_EQ(link.getSequence(), 1);
}

TEST_F(EmuLinkTest, ReceiveHalfRejectsAnswerOfAnotherExchange) {
    ASSERT_EQ(link.EraseBlock_trans(0x8000), 1);
    emulator.queueAnswer(answerFrame(7, {0x00, 0x00, 0x00}));
    EXPECT_EQ(link.EraseBlock_receive(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrSequence);
    EXPECT_EQ(link.getSequence(), 1);
    EXPECT_FALSE(emulator.isOpen());
}

TEST_F(EmuLinkTest, OversizeAnswerFailsAndClosesTheDevice) {
    answerNext({0x00, 0x00, 0x00});  // chip reset allows 2 bytes
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
    EXPECT_FALSE(emulator.isOpen());
    EXPECT_EQ(link.getSequence(), 1);
}

TEST_F(EmuLinkTest, TruncatedAnswerFails) {
    Bytes frame = answerFrame(0, {0x00, 0x00, 0x00, 0x00});
    frame.pop_back();  // the header announces one byte more than arrived
    emulator.queueAnswer(frame);
    uint16_t word = 0x1234;
    EXPECT_EQ(link.ReadProtect(word), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(word, 0x1234);

    emulator.queueAnswer({0x43, 0x48, 0x50, 0x4D, 0x01});  // less than a header
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
}

TEST_F(EmuLinkTest, WrongSignatureOrVersionFails) {
    emulator.queueAnswer(answerFrame(0, {0x00, 0x00}, "CHRM"));
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrBadAnswer);
    EXPECT_FALSE(emulator.isOpen());

    emulator.queueAnswer(answerFrame(1, {0x00, 0x00}, "CHPM", 0x02));
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrBadAnswer);
}

TEST_F(EmuLinkTest, EmptyAnswerClearsTheReadPipe) {
    emulator.queueAnswer({});
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrEmptyAnswer);
    ASSERT_EQ(emulator.events(Kind::ClearHalt).size(), 1u);
    EXPECT_EQ(emulator.events(Kind::ClearHalt)[0].pipe, 1);
    EXPECT_FALSE(emulator.isOpen());
}

TEST_F(EmuLinkTest, SilentEmulatorFailsAndTheNextExchangeRecovers) {
    EXPECT_EQ(link.EraseChip(), 0);  // nothing queued: the read times out
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(emulator.events(Kind::Read).back().timeoutMs, 10000u);
    EXPECT_FALSE(emulator.isOpen());

    answerNext({0x00, 0x00});
    EXPECT_EQ(link.EraseChip(), 1);
    EXPECT_EQ(emulator.writtenFrames().back()[5], 1);
}

TEST_F(EmuLinkTest, EmulatorStatusPassesThroughAndLeavesOutputsUntouched) {
    answerEveryRequestWith({0x63, 0x00});
    uint16_t word = 0xAAAA;
    uint8_t result = 0xBB;
    uint32_t id[2] = {1, 2};
    char text[8] = "keep";
    Bytes memory(4, 0xCC);
    EXPECT_EQ(link.ReadWord(0x100, word), 0);
    EXPECT_EQ(link.getLastError(), 0x6300u);
    EXPECT_EQ(link.SystemReset(0, result), 0);
    EXPECT_EQ(link.ReadProductId(id), 0);
    EXPECT_EQ(link.QueryInfo(CEmuLink::kInfoChipName, text, sizeof text), 0);
    EXPECT_EQ(link.ReadMemory(0, 4, memory.data()), 0);
    EXPECT_EQ(link.getLastError(), 0x6300u);
    EXPECT_EQ(word, 0xAAAA);
    EXPECT_EQ(result, 0xBB);
    EXPECT_EQ(id[0], 1u);
    EXPECT_EQ(id[1], 2u);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(memory, Bytes(4, 0xCC));
    EXPECT_TRUE(emulator.isOpen());  // a status is an answer, not a link failure
}

TEST_F(EmuLinkTest, AnswerShorterThanItsFieldsIsNotReadPast) {
    uint32_t id[2] = {1, 2};
    answerNext({0x00, 0x00});
    EXPECT_EQ(link.ReadProductId(id), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(id[0], 1u);

    answerNext({});
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);

    Bytes memory(8, 0xCC);
    answerNext({0x00, 0x00, 0x00, 0x08, 1, 2, 3});  // eight announced, three present
    EXPECT_EQ(link.ReadMemory(0, 8, memory.data()), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(memory, Bytes(8, 0xCC));

    char text[16] = "keep";
    answerNext({0x00, 0x00, 0x05, 'a', 'b'});  // five announced, two present
    EXPECT_EQ(link.QueryInfo(CEmuLink::kInfoFirmVersion, text, sizeof text), 0);
    EXPECT_STREQ(text, "keep");
}

TEST_F(EmuLinkTest, AddressSpaceByteFollowsTheAddress) {
    answerEveryRequestWith({0x00, 0x00, 0x00, 0x02, 0x12, 0x34});
    uint16_t word = 0;
    ASSERT_EQ(link.ReadWord(0xFFFF, word), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x05, 0x10, 0x30, 0x27, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x02, 0x02}));
    EXPECT_EQ(word, 0x1234);
    ASSERT_EQ(link.ReadWord(0x10000, word), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x05, 0x10, 0x30, 0x2B, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x02}));
}

TEST_F(EmuLinkTest, WriteMemoryOfThousandBytesIsOneFrameOf1027) {
    answerEveryRequestWith({0x00, 0x00});
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    ASSERT_EQ(link.WriteMemory(0x12345678, data.data(), 1000), 1);
    const Bytes frame = emulator.writtenFrames().back();
    ASSERT_EQ(frame.size(), 1027u);
    EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 16), (Bytes{0xF3, 0x03, 0x00, 0x00}));  // 1011
    EXPECT_EQ(Bytes(frame.begin() + 16, frame.begin() + 27),
              (Bytes{0x05, 0x00, 0x30, 0x2B, 0x12, 0x34, 0x56, 0x78, 0x02, 0x03, 0xE8}));
    EXPECT_EQ(Bytes(frame.begin() + 27, frame.end()), data);
}

TEST_F(EmuLinkTest, OversizeRequestsAreRefusedUnsent) {
    Bytes data(1001);
    uint16_t words[128] = {};
    EXPECT_EQ(link.WriteMemory(0, data.data(), 1001), 0);
    EXPECT_EQ(link.getLastError(), LinkErrFrameWrite);
    EXPECT_EQ(link.WriteMemory_trans(0, data.data(), 1001), 0);
    EXPECT_EQ(link.ReadMemory(0, 1001, data.data()), 0);
    EXPECT_EQ(link.UnlockProtect(128, words), 0);
    char text[1];
    EXPECT_EQ(link.QueryInfo(CEmuLink::kInfoChipName, text, 0), 0);
    EXPECT_TRUE(emulator.events(Kind::Write).empty());
    EXPECT_EQ(link.getSequence(), 0);
}

TEST_F(EmuLinkTest, InformationQueryTruncatesToTheBuffer) {
    const std::string name65(65, 'N');
    Bytes payload{0x00, 0x00, 65};
    payload.insert(payload.end(), name65.begin(), name65.end());
    answerNext(payload);
    char text[64];
    ASSERT_EQ(link.QueryInfo(CEmuLink::kInfoChipName, text, sizeof text), 1);
    EXPECT_EQ(std::string(text), std::string(63, 'N'));
    EXPECT_EQ(lastRequest(), (Bytes{0x0A, 0x00, 0x3F, 0x01}));

    payload[2] = 66;
    payload.push_back('N');  // payload of 69 bytes > capacity 68
    answerNext(payload);
    EXPECT_EQ(link.QueryInfo(CEmuLink::kInfoChipName, text, sizeof text), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);

    answerNext({0x00, 0x00, 0x00});
    ASSERT_EQ(link.QueryInfo(CEmuLink::kInfoFirmVersion, text, sizeof text), 1);
    EXPECT_STREQ(text, "");

    answerNext({0x00, 0x00, 0x02, 'V', '1'});  // fills the capacity of 1 + 4
    char one[1] = {'x'};
    ASSERT_EQ(link.QueryInfo(CEmuLink::kInfoFirmVersion, one, 1), 1);
    EXPECT_EQ(one[0], '\0');
}

TEST_F(EmuLinkTest, RequestsAndOutputsOfEachCommand) {
    answerNext({0x00, 0x00});
    const uint8_t data[3] = {0xA, 0xB, 0xC};
    ASSERT_EQ(link.WriteMemory(0x8000, data, 3), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x05, 0x00, 0x30, 0x27, 0x00, 0x00, 0x80, 0x00, 0x02, 0x00, 0x03, 0xA, 0xB, 0xC}));

    answerNext({0x00, 0x00, 0x00, 0x04, 0x11, 0x22, 0x33, 0x44});
    uint8_t memory[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(link.ReadMemory(0x20000, 4, memory), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x05, 0x10, 0x30, 0x2B, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x02}));
    EXPECT_EQ(Bytes(memory, memory + 4), (Bytes{0x11, 0x22, 0x33, 0x44}));

    // Two of four bytes, consistently announced: a failed read, nothing copied.
    answerNext({0x00, 0x00, 0x00, 0x02, 0x11, 0x22});
    std::fill(std::begin(memory), std::end(memory), 0xEE);
    EXPECT_EQ(link.ReadMemory(0x20000, 4, memory), 0);
    EXPECT_EQ(link.getLastError(), LinkErrAnswerRead);
    EXPECT_EQ(Bytes(memory, memory + 4), Bytes(4, 0xEE));

    answerNext({0x00, 0x00, 0x00});
    ASSERT_EQ(link.EraseBlock(0x0001F000), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x12, 0x12, 0x00, 0x01, 0xF0, 0x00}));

    answerNext({0x00, 0x00});
    const uint16_t words[2] = {0x1234, 0xABCD};
    ASSERT_EQ(link.UnlockProtect(2, words), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x12, 0x30, 0x12, 0x34, 0xAB, 0xCD}));

    answerNext({0x00, 0x00, 0xBE, 0xEF});
    uint16_t protection = 0;
    ASSERT_EQ(link.ReadProtect(protection), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x12, 0x32}));
    EXPECT_EQ(protection, 0xBEEF);

    answerNext({0x00, 0x00});
    ASSERT_EQ(link.ChipReset(), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x07, 0x00}));

    answerNext({0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
    uint32_t id[2] = {};
    ASSERT_EQ(link.ReadProductId(id), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x0A, 0x03, 0x3F, 0x09}));
    EXPECT_EQ(id[1], 0x01020304u);
    EXPECT_EQ(id[0], 0x05060708u);

    Bytes id128{0x00, 0x00};
    for (uint8_t b = 1; b <= 16; ++b) {
        id128.push_back(b);
    }
    answerNext(id128);
    uint32_t wide[4] = {};
    ASSERT_EQ(link.ReadProductId128(wide), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x0A, 0x05, 0x3F, 0x09}));
    EXPECT_EQ(wide[3], 0x01020304u);
    EXPECT_EQ(wide[2], 0x05060708u);
    EXPECT_EQ(wide[1], 0x090A0B0Cu);
    EXPECT_EQ(wide[0], 0x0D0E0F10u);

    answerNext({0x00, 0x00});
    ASSERT_EQ(link.SetTargetInfo(0x1122, 0x3344, 0x55667788), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x0A, 0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x00}));

    answerNext({0x00, 0x00, 0x42});
    uint8_t result = 0;
    ASSERT_EQ(link.RemovePowerOnState(result), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x00, 0xFD}));
    EXPECT_EQ(result, 0x42);
}

TEST_F(EmuLinkTest, SendAndReceiveHalvesOfEraseAndWrite) {
    ASSERT_EQ(link.EraseChip_trans(), 1);
    answerNext({0x00, 0x00});
    ASSERT_EQ(link.EraseChip_receive(), 1);

    const uint8_t data[1] = {0x99};
    ASSERT_EQ(link.WriteMemory_trans(0x400, data, 1), 1);
    EXPECT_EQ(lastRequest(), (Bytes{0x05, 0x00, 0x30, 0x27, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x01, 0x99}));
    answerNext({0x63, 0x09});
    EXPECT_EQ(link.WriteMemory_receive(), 0);
    EXPECT_EQ(link.getLastError(), 0x6309u);
    EXPECT_EQ(link.getSequence(), 2);
}

TEST(EmuLinkReach, UnreachableUntilAPipeOpens) {
    FakeUsbBackend backend;
    FakeUsbDevice& emulator = backend.addDevice(kPath);
    emulator.failOpens(-1);
    CEmuLink link(kPath);
    EXPECT_EQ(link.isUnreachable(), 1);
    EXPECT_EQ(link.ChipReset(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrUnreachable);
    EXPECT_EQ(link.getSequence(), 1);

    emulator.failOpens(0);
    emulator.setResponder([](const Bytes& frame) { return std::vector<Bytes>{answerFrame(frame[5], {0, 0})}; });
    EXPECT_EQ(link.ChipReset(), 1);
    EXPECT_EQ(link.isUnreachable(), 0);
    EXPECT_EQ(link.getLastError(), LinkErrUnreachable);  // a success does not clear it
}

TEST(EmuLinkLock, ExchangesWaitForTheCommandLock) {
    FakeUsbBackend backend;
    FakeUsbDevice& emulator = backend.addDevice(kPath);
    emulator.setResponder([](const Bytes& frame) { return std::vector<Bytes>{answerFrame(frame[5], {0, 0})}; });
    CEmuLink link(kPath);
    std::atomic<int> result{-1};
    std::thread worker;
    {
        std::lock_guard hold(CommandLock());
        worker = std::thread([&] { result = link.ChipReset(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(emulator.writtenFrames().empty());
        EXPECT_EQ(result, -1);
    }
    worker.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(emulator.writtenFrames().size(), 1u);
}

// Held shared, as a receive on another emulator holds it: a receive goes on
// beside it, a whole exchange waits until it is released.
TEST(EmuLinkLock, ReceivesShareTheCommandLockAndExchangesWaitForThem) {
    FakeUsbBackend backend;
    for (const char* path : {"usb:2-1", "usb:2-2"}) {
        backend.addDevice(path).setResponder(
            [](const Bytes& frame) { return std::vector<Bytes>{answerFrame(frame[5], {0, 0})}; });
    }
    CEmuLink receiving("usb:2-1");
    CEmuLink exchanging("usb:2-2");
    ASSERT_EQ(receiving.EraseChip_trans(), 1);
    std::future<int> received;
    std::future<int> exchanged;
    {
        std::shared_lock held(CommandLock());
        received = std::async(std::launch::async, [&] { return receiving.EraseChip_receive(); });
        EXPECT_EQ(received.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        exchanged = std::async(std::launch::async, [&] { return exchanging.ChipReset(); });
        EXPECT_EQ(exchanged.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        EXPECT_TRUE(backend.device("usb:2-2").writtenFrames().empty());
    }
    EXPECT_EQ(received.get(), 1);
    EXPECT_EQ(exchanged.get(), 1);
}

}  // namespace
