#include "Emulator.h"

#include <cstdio>

#include "Frame.h"

namespace korvo {
namespace {

constexpr size_t kMaxWriteBytes = 1000;
constexpr size_t kMaxTextLength = 255;
constexpr uint8_t kMemoryConstant = 0x30;
constexpr uint8_t kCountMarker = 0x02;
constexpr uint16_t kQueryChipName = 0x3F01;
constexpr uint16_t kQueryFirmware = 0x3F02;
constexpr uint16_t kQueryErrorIndication = 0x7FFF;

uint8_t addressSpaceByte(uint32_t address) { return address >= 0x10000 ? 0x2B : 0x27; }

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::vector<uint8_t> statusOnly(uint16_t status) {
    std::vector<uint8_t> payload;
    appendBigEndian16(payload, status);
    return payload;
}

// Checks shared by read and write memory: constant byte and the
// address-space byte that must agree with the address.
bool memoryHeaderValid(const std::vector<uint8_t>& p) {
    return p[2] == kMemoryConstant && p[3] == addressSpaceByte(readBigEndian32(p.data() + 4));
}

constexpr uint16_t kReadMemoryCommand = 0x0510;
constexpr size_t kReadAnswerHead = 4;  // status and count

// A successful read memory answer cut to half of its bytes, with a count
// that agrees, so that only the byte count tells it apart.
bool shortenReadAnswer(const std::vector<uint8_t>& request, std::vector<uint8_t>& answer) {
    if (request.size() < 2 || readBigEndian16(request.data()) != kReadMemoryCommand ||
        answer.size() < kReadAnswerHead || readBigEndian16(answer.data()) != 0) {
        return false;
    }
    const auto half = static_cast<uint16_t>(readBigEndian16(answer.data() + 2) / 2);
    answer.resize(kReadAnswerHead + half);
    answer[2] = static_cast<uint8_t>(half >> 8);
    answer[3] = static_cast<uint8_t>(half);
    return true;
}

}  // namespace

Emulator::Emulator(EmulatorSetup setup, Chip chip, LogSink log)
    : setup_(std::move(setup)), chip_(std::move(chip)), log_(std::move(log)) {}

void Emulator::connectionOpened() {
    if (silenced_) {
        silenced_ = false;
        silenceSpent_ = true;
        log(setup_.name + " answers again after the bus reset");
    }
}

Outcome Emulator::handleFrame(const uint8_t* data, size_t size) {
    const uint32_t frame = ++framesReceived_;
    const std::string prefix = setup_.name + " #" + std::to_string(frame);
    Request request;
    const FrameCheck check = parseRequest(data, size, request);
    if (check == FrameCheck::TooShort || check == FrameCheck::NotARequest) {
        log(prefix + " > " + std::to_string(size) + " bytes that are no request frame: dropped");
        return {};
    }
    const auto& faults = setup_.faults;
    if (faults.silentAfter && frame >= *faults.silentAfter && !silenceSpent_) {
        silenced_ = true;
    }
    if (silenced_) {
        log(prefix + " > CHRM seq=" + hex(request.sequence, 2) + ": not answered (silent)");
        return {};
    }
    Reply reply;
    if (check == FrameCheck::LengthMismatch) {
        reply = {statusOnly(kStatusCommunicationFailed), 2, {}, "frame length disagrees with its header"};
    } else if (const auto forced = faults.statusAt.find(frame); forced != faults.statusAt.end()) {
        reply = {statusOnly(forced->second), 2, {}, "not carried out (status fault)"};
    } else {
        reply = execute(request.payload);
        if (faults.shortAt.count(frame) != 0 && shortenReadAnswer(request.payload, reply.payload)) {
            reply.note += ", answered with half the bytes";
        }
    }
    log(prefix + " > CHRM seq=" + hex(request.sequence, 2) + " len=" + std::to_string(request.payload.size()) + ": " +
        reply.note);
    return answer(frame, request.sequence, std::move(reply));
}

Outcome Emulator::answer(uint32_t frame, uint8_t sequence, Reply reply) {
    const auto& faults = setup_.faults;
    std::string remark;
    if (faults.oversizeAt.count(frame) != 0) {
        reply.payload.resize(reply.capacity + 1, 0x00);
        remark += ", oversize";
    }
    if (faults.badSequenceAt.count(frame) != 0) {
        ++sequence;
        remark += ", wrong sequence number";
    }
    AnswerSignature signature = AnswerSignature::Correct;
    if (faults.badSignatureAt.count(frame) != 0) {
        signature = AnswerSignature::Wrong;
        remark += ", wrong signature";
    }
    Outcome outcome;
    outcome.delay = reply.busy;
    if (const auto late = faults.lateMs.find(frame); late != faults.lateMs.end()) {
        outcome.delay += std::chrono::milliseconds(late->second);
        remark += ", late by " + std::to_string(late->second) + " ms";
    }
    if (faults.disconnectAfter && frame >= *faults.disconnectAfter) {
        outcome.dropConnection = true;
        refusing_ = true;
        remark += ", then disconnect";
    }
    log(setup_.name + " #" + std::to_string(frame) + " < " +
        (signature == AnswerSignature::Correct ? "CHPM" : "CHRM") + " seq=" + hex(sequence, 2) +
        " len=" + std::to_string(reply.payload.size()) + ": status " + hex(readBigEndian16(reply.payload.data()), 4) +
        remark);
    outcome.answer = buildAnswer(sequence, reply.payload, signature);
    return outcome;
}

Emulator::Reply Emulator::execute(const std::vector<uint8_t>& p) {
    if (p.size() < 2) {
        return {statusOnly(kStatusUnknownCommand), 2, {}, "payload too short for a command"};
    }
    switch (readBigEndian16(p.data())) {
        case 0x0500: return writeMemory(p);
        case 0x0510: return readMemory(p);
        case 0x1210: return eraseChip(p);
        case 0x1212: return eraseBlock(p);
        case 0x1230: return unlockProtection(p);
        case 0x1232: return readProtection(p);
        case 0x0700: return chipReset(p);
        case 0x0706: return systemReset(p);
        case 0x0A03: return readProductId(p, 2);
        case 0x0A05: return readProductId(p, 4);
        case 0x0A04: return setTargetInfo(p);
        case 0x00FD: return removePowerOnState(p);
        case 0x0A00: return informationQuery(p);
        default: return {statusOnly(kStatusUnknownCommand), 2, {}, "unknown command " + hex(readBigEndian16(p.data()), 4)};
    }
}

Emulator::Reply Emulator::writeMemory(const std::vector<uint8_t>& p) {
    const std::string note = "write memory";
    if (p.size() < 11 || !memoryHeaderValid(p) || p[8] != kCountMarker) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, note + ", malformed"};
    }
    const uint32_t address = readBigEndian32(p.data() + 4);
    const uint16_t count = readBigEndian16(p.data() + 9);
    const std::string detail = note + " at " + hex(address, 8) + ", " + std::to_string(count) + " bytes";
    if (count > kMaxWriteBytes || p.size() != 11u + count) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, detail + ", malformed"};
    }
    if (chip_.isProtected()) {
        return {statusOnly(kStatusReadProtected), 2, {}, detail};
    }
    if (!chip_.isFlash(address, count)) {
        return {statusOnly(kStatusOutsideFlash), 2, {}, detail};
    }
    chip_.program(address, p.data() + 11, count);
    return {statusOnly(kStatusOk), 2, setup_.timing.write, detail};
}

Emulator::Reply Emulator::readMemory(const std::vector<uint8_t>& p) {
    const std::string note = "read memory";
    if (p.size() != 11 || !memoryHeaderValid(p) || p[10] != kCountMarker) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, note + ", malformed"};
    }
    const uint32_t address = readBigEndian32(p.data() + 4);
    const uint16_t count = readBigEndian16(p.data() + 8);
    const std::string detail = note + " at " + hex(address, 8) + ", " + std::to_string(count) + " bytes";
    const size_t capacity = size_t{count} + 4;
    if (chip_.isProtected()) {
        return {statusOnly(kStatusReadProtected), capacity, {}, detail};
    }
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    appendBigEndian16(payload, count);
    payload.resize(capacity);
    chip_.read(address, count, payload.data() + 4);
    return {std::move(payload), capacity, {}, detail};
}

Emulator::Reply Emulator::eraseChip(const std::vector<uint8_t>& p) {
    if (p.size() != 2) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, "erase chip, malformed"};
    }
    if (!chip_.chipErase()) {
        return {statusOnly(kStatusReadProtected), 2, {}, "erase chip, refused: protected, security type 1"};
    }
    return {statusOnly(kStatusOk), 2, setup_.timing.chipErase, "erase chip"};
}

Emulator::Reply Emulator::eraseBlock(const std::vector<uint8_t>& p) {
    constexpr size_t capacity = 3;
    if (p.size() != 6) {
        return {statusOnly(kStatusMalformedCommand), capacity, {}, "erase block, malformed"};
    }
    const uint32_t address = readBigEndian32(p.data() + 2);
    const uint32_t blockSize = chip_.description().blockSize;
    const std::string detail = "erase block at " + hex(address, 8);
    uint16_t status = kStatusOk;
    if (chip_.isProtected()) {
        status = kStatusReadProtected;
    } else if (address % blockSize != 0) {
        status = kStatusNotBlockStart;
    } else if (!chip_.touchesFlash(address, blockSize)) {
        status = kStatusOutsideFlash;
    }
    if (status != kStatusOk) {
        return {statusOnly(status), capacity, {}, detail};
    }
    chip_.erase(address, blockSize);
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    payload.push_back(0x00);
    return {std::move(payload), capacity, setup_.timing.blockErase, detail};
}

Emulator::Reply Emulator::unlockProtection(const std::vector<uint8_t>& p) {
    if (p.size() % 2 != 0) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, "unlock protection, malformed"};
    }
    std::vector<uint16_t> words;
    for (size_t i = 2; i < p.size(); i += 2) {
        words.push_back(readBigEndian16(p.data() + i));
    }
    const bool wasProtected = chip_.isProtected();
    chip_.unlock(words);
    const char* effect = !wasProtected ? "not protected" : chip_.isProtected() ? "wrong ID, still protected" : "unlocked";
    return {statusOnly(kStatusOk), 2, {}, "unlock protection with " + std::to_string(words.size()) + " words, " + effect};
}

Emulator::Reply Emulator::readProtection(const std::vector<uint8_t>& p) {
    if (p.size() != 2) {
        return {statusOnly(kStatusMalformedCommand), 4, {}, "read protection, malformed"};
    }
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    appendBigEndian16(payload, chip_.isProtected() ? Chip::kProtectedWord : 0);
    return {std::move(payload), 4, {}, std::string("read protection: ") + (chip_.isProtected() ? "protected" : "open")};
}

Emulator::Reply Emulator::chipReset(const std::vector<uint8_t>& p) {
    if (p.size() != 2) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, "chip reset, malformed"};
    }
    return {statusOnly(kStatusOk), 2, {}, "chip reset"};
}

Emulator::Reply Emulator::systemReset(const std::vector<uint8_t>& p) {
    constexpr size_t capacity = 3;
    if (p.size() != 3 || p[2] > 1) {
        return {statusOnly(kStatusMalformedCommand), capacity, {}, "system reset, malformed"};
    }
    const std::string detail = "system reset mode " + std::to_string(p[2]);
    if (setup_.faults.powerOn && !powerOnRemoved_) {
        return {statusOnly(kStatusCommunicationFailed), capacity, {}, detail + ", refused: power-on state"};
    }
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    payload.push_back(p[2] == 0 ? kResetResultPlain : kResetResultConnected);
    return {std::move(payload), capacity, {}, detail};
}

Emulator::Reply Emulator::readProductId(const std::vector<uint8_t>& p, size_t words) {
    const size_t capacity = 2 + 4 * words;
    const std::string note = "read product ID, " + std::to_string(words * 32) + " bits";
    if (p.size() != 4 || readBigEndian16(p.data() + 2) != 0x3F09) {
        return {statusOnly(kStatusMalformedCommand), capacity, {}, note + ", malformed"};
    }
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    for (size_t i = words; i-- > 0;) {
        appendBigEndian32(payload, chip_.description().productId[i]);
    }
    return {std::move(payload), capacity, {}, note};
}

Emulator::Reply Emulator::setTargetInfo(const std::vector<uint8_t>& p) {
    if (p.size() != 11) {
        return {statusOnly(kStatusMalformedCommand), 2, {}, "set target info, malformed"};
    }
    TargetInfoRecord record{readBigEndian16(p.data() + 2), readBigEndian16(p.data() + 4), readBigEndian32(p.data() + 6)};
    targetInfo_ = record;
    return {statusOnly(kStatusOk), 2, {},
            "set target info: ROM window " + hex(record.romWindowStart, 4) + "-" + hex(record.romWindowEnd, 4) +
                ", flash address " + hex(record.flashAddress, 8) + ", flag " + hex(p[10], 2)};
}

Emulator::Reply Emulator::removePowerOnState(const std::vector<uint8_t>& p) {
    constexpr size_t capacity = 3;
    if (p.size() != 2) {
        return {statusOnly(kStatusMalformedCommand), capacity, {}, "remove power-on state, malformed"};
    }
    powerOnRemoved_ = true;
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    payload.push_back(kResetResultConnected);
    return {std::move(payload), capacity, {}, "remove power-on state"};
}

Emulator::Reply Emulator::informationQuery(const std::vector<uint8_t>& p) {
    constexpr size_t capacity = 3 + kMaxTextLength;
    if (p.size() != 4) {
        return {statusOnly(kStatusMalformedCommand), capacity, {}, "information query, malformed"};
    }
    const uint16_t code = readBigEndian16(p.data() + 2);
    std::string text;
    std::string note = "information query " + hex(code, 4);
    if (code == kQueryChipName) {
        text = chip_.description().chipName;
        note += " (chip name)";
    } else if (code == kQueryFirmware) {
        text = setup_.firmware;
        note += " (firmware version)";
    } else if (code == kQueryErrorIndication) {
        ++errorIndications_;
        note += " (error indication no. " + std::to_string(errorIndications_) + ")";
    } else {
        return {statusOnly(kStatusUnknownCommand), capacity, {}, note + ", unknown code"};
    }
    text.resize(std::min(text.size(), kMaxTextLength));
    std::vector<uint8_t> payload = statusOnly(kStatusOk);
    payload.push_back(static_cast<uint8_t>(text.size()));
    payload.insert(payload.end(), text.begin(), text.end());
    return {std::move(payload), capacity, {}, note + " -> \"" + text + "\""};
}

void Emulator::log(const std::string& line) const {
    if (log_) {
        log_(line);
    }
}

}  // namespace korvo
