#include "Emulator.h"

#include <gtest/gtest.h>

#include "Frame.h"

namespace korvo {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes requestFrame(uint8_t sequence, const Bytes& payload) {
    Bytes frame = {0x43, 0x48, 0x52, 0x4D, 0x01, sequence, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    frame.reserve(16 + payload.size());
    const auto n = static_cast<uint32_t>(payload.size());
    frame.insert(frame.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

struct Answer {
    std::string signature;
    uint8_t sequence = 0;
    Bytes payload;
    uint16_t status() const { return readBigEndian16(payload.data()); }
};

Answer unpack(const Bytes& frame) {
    Answer answer;
    answer.signature.assign(frame.begin(), frame.begin() + 4);
    answer.sequence = frame[5];
    const uint32_t n = frame[12] | (frame[13] << 8) | (frame[14] << 16) | (uint32_t(frame[15]) << 24);
    EXPECT_EQ(frame.size(), kFrameHeaderSize + n) << "header length disagrees with the frame";
    answer.payload.assign(frame.begin() + kFrameHeaderSize, frame.end());
    return answer;
}

Bytes writeCommand(uint32_t address, const Bytes& data) {
    Bytes p = {0x05, 0x00, 0x30, uint8_t(address >= 0x10000 ? 0x2B : 0x27)};
    appendBigEndian32(p, address);
    p.push_back(0x02);
    appendBigEndian16(p, static_cast<uint16_t>(data.size()));
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes readCommand(uint32_t address, uint16_t count) {
    Bytes p = {0x05, 0x10, 0x30, uint8_t(address >= 0x10000 ? 0x2B : 0x27)};
    appendBigEndian32(p, address);
    appendBigEndian16(p, count);
    p.push_back(0x02);
    return p;
}

Bytes eraseBlockCommand(uint32_t address) {
    Bytes p = {0x12, 0x12};
    appendBigEndian32(p, address);
    return p;
}

const Bytes kEraseChip = {0x12, 0x10};
const Bytes kReadProtect = {0x12, 0x32};
const Bytes kChipReset = {0x07, 0x00};

class EmulatorTest : public ::testing::Test {
protected:
    // Flash 0-7FFF and 10000-1FFFF in 400H blocks.
    Emulator make(Faults faults = {}, bool eraseOnlyBySecurityId = false) {
        ChipDescription description;
        description.flash = {{0x0000, 0x7FFF}, {0x10000, 0x1FFFF}};
        description.blockSize = 0x400;
        description.productId = {0x01004560, 0x00040800, 0x11223344, 0x55667788};
        description.eraseOnlyBySecurityId = eraseOnlyBySecurityId;
        description.chipName = "51456";
        Timing timing{std::chrono::microseconds(1000), std::chrono::microseconds(2000),
                      std::chrono::microseconds(3000)};
        return Emulator({"korvo-00", "1.23", std::move(faults), timing}, Chip(std::move(description)));
    }

    Outcome sendRaw(Emulator& emulator, const Bytes& payload) {
        const Bytes frame = requestFrame(sequence_++, payload);
        return emulator.handleFrame(frame.data(), frame.size());
    }

    Answer send(Emulator& emulator, const Bytes& payload) {
        const Outcome outcome = sendRaw(emulator, payload);
        if (!outcome.answer) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return unpack(*outcome.answer);
    }

    Bytes readBack(Emulator& emulator, uint32_t address, uint16_t count) {
        const Answer answer = send(emulator, readCommand(address, count));
        EXPECT_EQ(answer.status(), kStatusOk);
        return Bytes(answer.payload.begin() + 4, answer.payload.end());
    }

    uint8_t sequence_ = 0;
};

TEST_F(EmulatorTest, AnswersTheGoldenEraseChipFrameExactly) {
    Emulator emulator = make();
    const Bytes request = {0x43, 0x48, 0x52, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x12, 0x10};
    const Outcome outcome = emulator.handleFrame(request.data(), request.size());
    ASSERT_TRUE(outcome.answer);
    EXPECT_EQ(*outcome.answer, (Bytes{0x43, 0x48, 0x50, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02,
                                      0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(outcome.delay, std::chrono::microseconds(3000));  // the chip erase time
}

TEST_F(EmulatorTest, AnswersTheGoldenReadMemoryFrameWithItsCapacity) {
    Emulator emulator = make();
    const Bytes request = {0x43, 0x48, 0x52, 0x4D, 0x01, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x0B, 0x00,
                           0x00, 0x00, 0x05, 0x10, 0x30, 0x2B, 0x00, 0x01, 0xF8, 0x00, 0x01, 0x00, 0x02};
    const Outcome outcome = emulator.handleFrame(request.data(), request.size());
    ASSERT_TRUE(outcome.answer);
    const Answer answer = unpack(*outcome.answer);
    EXPECT_EQ(answer.signature, "CHPM");
    EXPECT_EQ(answer.sequence, 0x2A);
    ASSERT_EQ(answer.payload.size(), 0x104u);
    EXPECT_EQ(answer.status(), kStatusOk);
    EXPECT_EQ(readBigEndian16(answer.payload.data() + 2), 0x100);
    EXPECT_EQ(answer.payload.back(), 0xFF);
}

TEST_F(EmulatorTest, WritesProgramByAndAndTakeTheWriteTime) {
    Emulator emulator = make();
    const Outcome first = sendRaw(emulator, writeCommand(0x10000, {0x0F, 0xF0}));
    EXPECT_EQ(first.delay, std::chrono::microseconds(1000));
    EXPECT_EQ(send(emulator, writeCommand(0x10000, {0xF0, 0xFF})).status(), kStatusOk);
    EXPECT_EQ(readBack(emulator, 0x10000, 3), (Bytes{0x00, 0xF0, 0xFF}));
    uint16_t word = 0;
    const Answer wordAnswer = send(emulator, readCommand(0x10000, 2));
    word = readBigEndian16(wordAnswer.payload.data() + 4);
    EXPECT_EQ(word, 0x00F0);  // read one word: memory order is big-endian order
}

TEST_F(EmulatorTest, RefusesMalformedAndOutOfFlashMemoryCommands) {
    Emulator emulator = make();
    Bytes wrongSpace = writeCommand(0x10000, {0x00});
    wrongSpace[3] = 0x27;
    EXPECT_EQ(send(emulator, wrongSpace).status(), kStatusMalformedCommand);
    Bytes shortData = writeCommand(0x100, {0x00, 0x00});
    shortData.pop_back();
    EXPECT_EQ(send(emulator, shortData).status(), kStatusMalformedCommand);
    EXPECT_EQ(send(emulator, writeCommand(0x100, Bytes(1001, 0))).status(), kStatusMalformedCommand);
    EXPECT_EQ(send(emulator, writeCommand(0x7FFF, {0x00, 0x00})).status(), kStatusOutsideFlash);
    EXPECT_EQ(readBack(emulator, 0x7FFF, 1), (Bytes{0xFF}));  // refused writes change nothing
    EXPECT_EQ(send(emulator, {0x05, 0x20}).status(), kStatusUnknownCommand);
}

TEST_F(EmulatorTest, BlockEraseNeedsABlockStartInFlashAndErasesOneBlock) {
    Emulator emulator = make();
    send(emulator, writeCommand(0x03FF, {0x00, 0x00}));
    EXPECT_EQ(send(emulator, eraseBlockCommand(0x0401)).status(), kStatusNotBlockStart);
    EXPECT_EQ(send(emulator, eraseBlockCommand(0x8000)).status(), kStatusOutsideFlash);
    const Outcome erased = sendRaw(emulator, eraseBlockCommand(0x0400));
    EXPECT_EQ(erased.delay, std::chrono::microseconds(2000));
    const Answer answer = unpack(*erased.answer);
    EXPECT_EQ(answer.status(), kStatusOk);
    EXPECT_LE(answer.payload.size(), 3u);
    EXPECT_EQ(readBack(emulator, 0x03FF, 2), (Bytes{0x00, 0xFF}));
}

TEST_F(EmulatorTest, ProtectedChipRefusesAccessUntilUnlockedWithItsId) {
    Emulator emulator = make();
    Chip& chip = const_cast<Chip&>(emulator.chip());
    chip.protect({0xA1B2, 0xC3D4});
    EXPECT_EQ(send(emulator, readCommand(0, 4)).status(), kStatusReadProtected);
    EXPECT_EQ(send(emulator, writeCommand(0, {0})).status(), kStatusReadProtected);
    EXPECT_EQ(send(emulator, eraseBlockCommand(0)).status(), kStatusReadProtected);
    Answer protection = send(emulator, kReadProtect);
    EXPECT_NE(readBigEndian16(protection.payload.data() + 2), 0);
    EXPECT_EQ(send(emulator, {0x12, 0x30, 0xA1, 0xB2, 0xC3, 0xD5}).status(), kStatusOk);  // wrong ID: status 0
    protection = send(emulator, kReadProtect);
    EXPECT_NE(readBigEndian16(protection.payload.data() + 2), 0);
    EXPECT_EQ(send(emulator, {0x12, 0x30, 0xA1, 0xB2, 0xC3, 0xD4}).status(), kStatusOk);
    protection = send(emulator, kReadProtect);
    EXPECT_EQ(readBigEndian16(protection.payload.data() + 2), 0);
    EXPECT_EQ(send(emulator, readCommand(0, 4)).status(), kStatusOk);
}

TEST_F(EmulatorTest, ChipEraseOfAProtectedChipDependsOnTheSecurityType) {
    Emulator typeZero = make();
    const_cast<Chip&>(typeZero.chip()).protect({1});
    EXPECT_EQ(send(typeZero, kEraseChip).status(), kStatusOk);
    EXPECT_EQ(readBigEndian16(send(typeZero, kReadProtect).payload.data() + 2), 0);

    Emulator typeOne = make({}, true);
    const_cast<Chip&>(typeOne.chip()).protect({1});
    EXPECT_EQ(send(typeOne, kEraseChip).status(), kStatusReadProtected);
    EXPECT_NE(readBigEndian16(send(typeOne, kReadProtect).payload.data() + 2), 0);
}

TEST_F(EmulatorTest, ProductIdComesMostSignificantWordFirst) {
    Emulator emulator = make();
    const Answer id64 = send(emulator, {0x0A, 0x03, 0x3F, 0x09});
    EXPECT_EQ(id64.payload, (Bytes{0, 0, 0x00, 0x04, 0x08, 0x00, 0x01, 0x00, 0x45, 0x60}));
    const Answer id128 = send(emulator, {0x0A, 0x05, 0x3F, 0x09});
    ASSERT_EQ(id128.payload.size(), 18u);
    EXPECT_EQ(readBigEndian32(id128.payload.data() + 2), 0x55667788u);
    EXPECT_EQ(readBigEndian32(id128.payload.data() + 14), 0x01004560u);
    EXPECT_EQ(send(emulator, {0x0A, 0x03, 0x3F, 0x08}).status(), kStatusMalformedCommand);
}

TEST_F(EmulatorTest, InformationQueriesAnswerTextsAndRecordErrorIndications) {
    Emulator emulator = make();
    const Answer name = send(emulator, {0x0A, 0x00, 0x3F, 0x01});
    EXPECT_EQ(name.payload, (Bytes{0, 0, 5, '5', '1', '4', '5', '6'}));
    const Answer firmware = send(emulator, {0x0A, 0x00, 0x3F, 0x02});
    EXPECT_EQ(firmware.payload, (Bytes{0, 0, 4, '1', '.', '2', '3'}));
    send(emulator, {0x0A, 0x00, 0x7F, 0xFF});
    send(emulator, {0x0A, 0x00, 0x7F, 0xFF});
    EXPECT_EQ(emulator.errorIndications(), 2u);
    EXPECT_EQ(send(emulator, {0x0A, 0x00, 0x12, 0x34}).status(), kStatusUnknownCommand);
}

TEST_F(EmulatorTest, ResetsAnswerResultBytesAndTargetInfoIsRecorded) {
    Emulator emulator = make();
    EXPECT_EQ(send(emulator, {0x07, 0x06, 0x00}).payload, (Bytes{0, 0, kResetResultPlain}));
    EXPECT_EQ(send(emulator, {0x07, 0x06, 0x01}).payload, (Bytes{0, 0, kResetResultConnected}));
    EXPECT_EQ(send(emulator, {0x07, 0x06, 0x02}).status(), kStatusMalformedCommand);
    EXPECT_EQ(send(emulator, kChipReset).payload, (Bytes{0, 0}));
    EXPECT_FALSE(emulator.targetInfo());
    EXPECT_EQ(send(emulator, {0x0A, 0x04, 0x20, 0x00, 0x7F, 0xFF, 0x00, 0x01, 0xFB, 0xF0, 0x00}).status(), kStatusOk);
    ASSERT_TRUE(emulator.targetInfo());
    EXPECT_EQ(emulator.targetInfo()->romWindowStart, 0x2000);
    EXPECT_EQ(emulator.targetInfo()->romWindowEnd, 0x7FFF);
    EXPECT_EQ(emulator.targetInfo()->flashAddress, 0x1FBF0u);
}

TEST_F(EmulatorTest, PowerOnStateFailsSystemResetsUntilRemoved) {
    Faults faults;
    faults.powerOn = true;
    Emulator emulator = make(faults);
    EXPECT_EQ(send(emulator, {0x07, 0x06, 0x00}).status(), kStatusCommunicationFailed);
    EXPECT_EQ(send(emulator, {0x00, 0xFD}).payload, (Bytes{0, 0, kResetResultConnected}));
    EXPECT_EQ(send(emulator, {0x07, 0x06, 0x00}).status(), kStatusOk);
}

TEST_F(EmulatorTest, MalformedFramesAreDroppedOrAnsweredWithStatusOne) {
    Emulator emulator = make();
    const Bytes tooShort = {0x43, 0x48, 0x52, 0x4D, 0x01};
    EXPECT_FALSE(emulator.handleFrame(tooShort.data(), tooShort.size()).answer);
    Bytes answerLike = requestFrame(1, kChipReset);
    answerLike[2] = 0x50;  // "CHPM"
    EXPECT_FALSE(emulator.handleFrame(answerLike.data(), answerLike.size()).answer);
    Bytes lengthWrong = requestFrame(7, kChipReset);
    lengthWrong[12] = 3;
    const Outcome outcome = emulator.handleFrame(lengthWrong.data(), lengthWrong.size());
    ASSERT_TRUE(outcome.answer);
    const Answer answer = unpack(*outcome.answer);
    EXPECT_EQ(answer.sequence, 7);
    EXPECT_EQ(answer.status(), kStatusCommunicationFailed);
}

TEST_F(EmulatorTest, FaultsAlterTheAnswersOfTheirFrames) {
    Faults faults;
    std::string error;
    ASSERT_TRUE(parseFaults("status:1:6300,bad-seq:2,bad-signature:3,oversize:4,oversize:5,late:6:250,short:7,short:8",
                            faults, error));
    Emulator emulator = make(faults);
    const Answer forced = send(emulator, writeCommand(0, {0x00}));
    EXPECT_EQ(forced.status(), 0x6300);
    const Answer shifted = send(emulator, readCommand(0, 1));  // frame 2
    EXPECT_EQ(shifted.sequence, 2);                            // sent as 1
    EXPECT_EQ(shifted.payload.back(), 0xFF);                   // the forced write was not carried out
    const Answer wrongSignature = send(emulator, kChipReset);  // frame 3
    EXPECT_EQ(wrongSignature.signature, "CHRM");
    EXPECT_EQ(send(emulator, kChipReset).payload.size(), 3u);           // frame 4: capacity 2 + 1
    EXPECT_EQ(send(emulator, readCommand(0, 8)).payload.size(), 13u);    // frame 5: capacity 12 + 1
    const Outcome late = sendRaw(emulator, kChipReset);                  // frame 6
    EXPECT_EQ(late.delay, std::chrono::milliseconds(250));
    const Answer halved = send(emulator, readCommand(0, 10));  // frame 7
    EXPECT_EQ(halved.status(), kStatusOk);
    EXPECT_EQ(halved.payload, (Bytes{0x00, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(send(emulator, kChipReset).payload.size(), 2u);  // frame 8: not a read, left whole
}

TEST_F(EmulatorTest, BadSequenceFaultAnswersWithTheNextNumber) {
    Faults faults;
    faults.badSequenceAt = {1};
    Emulator emulator = make(faults);
    sequence_ = 0xFF;
    EXPECT_EQ(send(emulator, kChipReset).sequence, 0x00);
}

TEST_F(EmulatorTest, SilentEmulatorRevivesOnceAfterANewConnection) {
    Faults faults;
    faults.silentAfter = 2;
    Emulator emulator = make(faults);
    emulator.connectionOpened();  // the first connection revives nothing
    EXPECT_TRUE(sendRaw(emulator, kChipReset).answer);
    EXPECT_FALSE(sendRaw(emulator, kChipReset).answer);
    EXPECT_FALSE(sendRaw(emulator, kChipReset).answer);
    emulator.connectionOpened();
    EXPECT_TRUE(sendRaw(emulator, kChipReset).answer);
    emulator.connectionOpened();
    EXPECT_TRUE(sendRaw(emulator, kChipReset).answer);
}

TEST_F(EmulatorTest, DisconnectFaultDropsAfterItsFrameAndRefusesFromThenOn) {
    Faults faults;
    faults.disconnectAfter = 2;
    Emulator emulator = make(faults);
    EXPECT_FALSE(sendRaw(emulator, kChipReset).dropConnection);
    EXPECT_FALSE(emulator.refusesConnections());
    const Outcome second = sendRaw(emulator, kChipReset);
    EXPECT_TRUE(second.answer);
    EXPECT_TRUE(second.dropConnection);
    EXPECT_TRUE(emulator.refusesConnections());
}

}  // namespace
}  // namespace korvo
