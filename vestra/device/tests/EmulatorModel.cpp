#include "device/tests/EmulatorModel.h"

#include <algorithm>

namespace device_testing {
namespace {

constexpr size_t kHeaderSize = 16;

uint32_t bigEndian32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

uint16_t bigEndian16(const Bytes& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

bool isCommand(const Bytes& payload, uint8_t group, uint8_t code) {
    return payload.size() >= 2 && payload[0] == group && payload[1] == code;
}

// Answer status of a memory access beyond the model's memory.
Bytes outsideMemory() { return {0x63, 0x00}; }

// Answer bytes after the status of the commands without memory data; all
// zero: result bytes 0, not protected, empty texts.
size_t fieldBytesAfterStatus(const Bytes& payload) {
    if (isCommand(payload, 0x07, 0x06) || isCommand(payload, 0x00, 0xFD) || isCommand(payload, 0x0A, 0x00)) return 1;
    if (isCommand(payload, 0x12, 0x32)) return 2;
    if (isCommand(payload, 0x0A, 0x03)) return 8;
    if (isCommand(payload, 0x0A, 0x05)) return 16;
    return 0;
}

Bytes answerFrameFor(const Bytes& request, const Bytes& payload) {
    Bytes frame{'C', 'H', 'P', 'M', 0x01, request[5], 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<uint8_t>(payload.size() >> shift));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace

EmulatorModel::EmulatorModel(vestra::usb::testing::FakeUsbDevice& device, uint32_t memorySize)
    : device_(device), memory_(patternedMemory(memorySize)) {
    device_.setResponder([this](const Bytes& frame) {
        const Bytes payload(frame.begin() + kHeaderSize, frame.end());
        return std::vector<Bytes>{answerFrameFor(frame, answer(payload))};
    });
}

void EmulatorModel::refuseRequest(uint32_t n, uint16_t status) {
    refusedRequest_ = requestCount_ + n;
    refusedStatus_ = status;
}

Bytes EmulatorModel::answer(const Bytes& payload) {
    if (++requestCount_ == refusedRequest_) {
        return {static_cast<uint8_t>(refusedStatus_ >> 8), static_cast<uint8_t>(refusedStatus_)};
    }
    Bytes result{0x00, 0x00};
    if (isCommand(payload, 0x05, 0x00)) {
        const uint32_t address = bigEndian32(payload, 4);
        if (!holds(address, static_cast<uint32_t>(payload.size() - 11))) return outsideMemory();
        std::copy(payload.begin() + 11, payload.end(), memory_.begin() + address);
    } else if (isCommand(payload, 0x05, 0x10)) {
        const uint32_t address = bigEndian32(payload, 4);
        const uint16_t length = bigEndian16(payload, 8);
        if (!holds(address, length)) return outsideMemory();
        // Status, the count as requested, then the data.
        result = Bytes{0x00, 0x00, payload[8], payload[9]};
        result.insert(result.end(), memory_.begin() + address, memory_.begin() + address + length);
    } else if (isCommand(payload, 0x12, 0x12)) {
        const uint32_t address = bigEndian32(payload, 2);
        if (!holds(address, blockSize_)) return outsideMemory();
        std::fill_n(memory_.begin() + address, blockSize_, uint8_t{0xFF});
    } else {
        result.resize(result.size() + fieldBytesAfterStatus(payload), 0x00);
    }
    return result;
}

bool EmulatorModel::holds(uint32_t address, uint32_t length) const {
    return uint64_t{address} + length <= memory_.size();
}

std::vector<Bytes> EmulatorModel::requests() const {
    std::vector<Bytes> payloads;
    for (const Bytes& frame : device_.writtenFrames()) payloads.emplace_back(frame.begin() + kHeaderSize, frame.end());
    return payloads;
}

std::vector<MemoryRequest> EmulatorModel::memoryRequests() const {
    std::vector<MemoryRequest> decoded;
    for (const Bytes& payload : requests()) {
        if (isCommand(payload, 0x05, 0x00)) {
            decoded.push_back({true, bigEndian32(payload, 4), bigEndian16(payload, 9),
                               Bytes(payload.begin() + 11, payload.end())});
        } else if (isCommand(payload, 0x05, 0x10)) {
            decoded.push_back({false, bigEndian32(payload, 4), bigEndian16(payload, 8), {}});
        }
    }
    return decoded;
}

Bytes patternedMemory(uint32_t size) {
    Bytes bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + (i >> 10)) % 251);
    return bytes;
}

}  // namespace device_testing
