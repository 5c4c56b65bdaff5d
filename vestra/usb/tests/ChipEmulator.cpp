#include "usb/tests/ChipEmulator.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vestra::usb::testing {
namespace {

using Kind = Request::Kind;

constexpr size_t kHeaderSize = 16;
constexpr uint16_t kOutsideMemory = 0x6305;

uint32_t bigEndian32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

uint16_t bigEndian16(const Bytes& bytes, size_t at) { return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]); }

void putBigEndian32(Bytes& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void putBigEndian16(Bytes& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

// Appends by resize and copy: GCC 12 at -O2 misreads vector::insert here as
// an overflow.
void append(Bytes& bytes, const uint8_t* from, size_t count) {
    const size_t at = bytes.size();
    bytes.resize(at + count);
    std::copy_n(from, count, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

Bytes statusOnly(uint16_t status) {
    Bytes payload;
    putBigEndian16(payload, status);
    return payload;
}

Bytes answerFrame(uint8_t sequence, const Bytes& payload) {
    Bytes frame{'C', 'H', 'P', 'M', 0x01, sequence, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<uint8_t>(payload.size() >> shift));
    append(frame, payload.data(), payload.size());
    return frame;
}

bool is(const Bytes& payload, uint8_t group, uint8_t code) {
    return payload.size() >= 2 && payload[0] == group && payload[1] == code;
}

bool isMemoryRequest(const Request& request) {
    return request.kind == Kind::WriteMemory || request.kind == Kind::ReadMemory;
}

}  // namespace

Request decodeRequest(const Bytes& frame) {
    Request request;
    if (frame.size() < kHeaderSize) return request;
    request.payload.assign(frame.begin() + kHeaderSize, frame.end());
    const Bytes& payload = request.payload;
    if (is(payload, 0x05, 0x00) && payload.size() >= 11) {
        request.kind = Kind::WriteMemory;
        request.address = bigEndian32(payload, 4);
        request.length = bigEndian16(payload, 9);
        request.data.assign(payload.begin() + 11, payload.end());
    } else if (is(payload, 0x05, 0x10) && payload.size() >= 11) {
        request.kind = Kind::ReadMemory;
        request.address = bigEndian32(payload, 4);
        request.length = bigEndian16(payload, 8);
    } else if (is(payload, 0x12, 0x10)) {
        request.kind = Kind::EraseChip;
    } else if (is(payload, 0x12, 0x12) && payload.size() >= 6) {
        request.kind = Kind::EraseBlock;
        request.address = bigEndian32(payload, 2);
    } else if (is(payload, 0x12, 0x30)) {
        request.kind = Kind::Unlock;
        for (size_t at = 2; at + 1 < payload.size(); at += 2) request.words.push_back(bigEndian16(payload, at));
    } else if (is(payload, 0x12, 0x32)) {
        request.kind = Kind::ReadProtect;
    } else if (is(payload, 0x07, 0x06) && payload.size() >= 3) {
        request.kind = Kind::SystemReset;
        request.mode = payload[2];
    } else if (is(payload, 0x00, 0xFD)) {
        request.kind = Kind::RemovePowerOn;
    } else if (is(payload, 0x0A, 0x03)) {
        request.kind = Kind::ProductId;
    } else if (is(payload, 0x0A, 0x05)) {
        request.kind = Kind::ProductId128;
    } else if (is(payload, 0x0A, 0x04) && payload.size() >= 11) {
        request.kind = Kind::SetTargetInfo;
        request.words = {bigEndian16(payload, 2), bigEndian16(payload, 4)};
        request.address = bigEndian32(payload, 6);
    } else if (is(payload, 0x0A, 0x00) && payload.size() >= 4) {
        request.kind = Kind::Query;
        request.queryCode = bigEndian16(payload, 2);
    }
    return request;
}

ChipEmulator::ChipEmulator(FakeUsbDevice& device, Bytes memory) : memory_(std::move(memory)) {
    device.setResponder([this](const Bytes& frame) { return respond(frame); });
}

void ChipEmulator::protectWith(std::vector<uint16_t> securityId) {
    securityId_ = std::move(securityId);
    protected_ = true;
}

void ChipEmulator::refuse(Request::Kind kind, uint32_t n, uint16_t status) {
    refusal_ = Trigger{kind, countOf(kind) + n};
    refusalStatus_ = status;
}

void ChipEmulator::refuse(uint32_t n, uint16_t status) {
    refusal_ = Trigger{std::nullopt, countOf(std::nullopt) + n};
    refusalStatus_ = status;
}

void ChipEmulator::fallSilent(Request::Kind kind, uint32_t n) { silence_ = Trigger{kind, countOf(kind) + n}; }

uint32_t ChipEmulator::countOf(std::optional<Request::Kind> kind) const {
    if (!kind) return static_cast<uint32_t>(requests_.size());
    return static_cast<uint32_t>(std::count_if(requests_.begin(), requests_.end(),
                                               [kind](const Request& request) { return request.kind == *kind; }));
}

std::vector<Request> ChipEmulator::requests(Request::Kind kind) const {
    std::vector<Request> matching;
    std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(matching),
                 [kind](const Request& request) { return request.kind == kind; });
    return matching;
}

std::vector<Request> ChipEmulator::memoryRequests() const {
    std::vector<Request> matching;
    std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(matching), isMemoryRequest);
    return matching;
}

std::optional<uint32_t> ChipEmulator::numberFor(const std::optional<Trigger>& trigger, const Request& request) const {
    if (!trigger || (trigger->kind && *trigger->kind != request.kind)) return std::nullopt;
    return countOf(trigger->kind);
}

std::vector<Bytes> ChipEmulator::respond(const Bytes& frame) {
    requests_.push_back(decodeRequest(frame));
    const Request& request = requests_.back();
    if (const auto number = numberFor(silence_, request); number && *number >= silence_->number) silent_ = true;
    if (silent_ || frame.size() < kHeaderSize) return {};
    const auto number = numberFor(refusal_, request);
    const bool refused = number && *number == refusal_->number;
    return {answerFrame(frame[5], refused ? statusOnly(refusalStatus_) : carryOut(request))};
}

bool ChipEmulator::holds(uint32_t address, size_t length) const {
    return uint64_t{address} + length <= memory_.size();
}

Bytes ChipEmulator::carryOut(const Request& request) {
    Bytes payload = statusOnly(0);
    switch (request.kind) {
    case Kind::WriteMemory:
        if (!holds(request.address, request.data.size())) return statusOnly(kOutsideMemory);
        std::copy(request.data.begin(), request.data.end(), memory_.begin() + request.address);
        break;
    case Kind::ReadMemory:
        if (!holds(request.address, request.length)) return statusOnly(kOutsideMemory);
        putBigEndian16(payload, static_cast<uint16_t>(request.length));
        append(payload, memory_.data() + request.address, request.length);
        break;
    case Kind::EraseChip:
        std::fill(memory_.begin(), memory_.end(), uint8_t{0xFF});
        protected_ = false;
        break;
    case Kind::EraseBlock:
        if (!holds(request.address, blockSize)) return statusOnly(kOutsideMemory);
        std::fill_n(memory_.begin() + request.address, blockSize, uint8_t{0xFF});
        break;
    case Kind::Unlock:
        if (request.words == securityId_) protected_ = false;
        break;
    case Kind::ReadProtect:
        putBigEndian16(payload, protected_ ? 1 : 0);
        break;
    case Kind::SystemReset:
        if (powerOn) return statusOnly(0x0001);
        payload.push_back(request.mode == 0 ? 0x01 : 0x03);
        break;
    case Kind::RemovePowerOn:
        powerOn = false;
        payload.push_back(0x03);
        break;
    case Kind::ProductId:
        putBigEndian32(payload, productId[1]);
        putBigEndian32(payload, productId[0]);
        break;
    case Kind::ProductId128:
        for (int word = 3; word >= 0; --word) putBigEndian32(payload, productId[word]);
        break;
    case Kind::Query: {
        const std::string text = request.queryCode == 0x3F01 ? chipName : request.queryCode == 0x3F02 ? firmware : "";
        payload.push_back(static_cast<uint8_t>(text.size()));
        append(payload, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        break;
    }
    case Kind::SetTargetInfo:
    case Kind::Other:
        break;
    }
    return payload;
}

Bytes patternedMemory(uint32_t size) {
    Bytes bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + (i >> 10)) % 251);
    return bytes;
}

void expectSerialNumberAcrossTwoWrites(const std::vector<Request>& writes, size_t offset, const Bytes& serial,
                                       uint8_t fill) {
    ASSERT_EQ(writes.size(), 2u);
    const Bytes& first = writes[0].data;
    const Bytes& second = writes[1].data;
    ASSERT_GT(offset, 0u);
    ASSERT_LT(offset, first.size());
    const size_t inFirst = first.size() - offset;
    ASSERT_LT(inFirst, serial.size());
    const size_t inSecond = serial.size() - inFirst;
    ASSERT_LT(inSecond, second.size());

    EXPECT_EQ(first[offset - 1], fill);
    EXPECT_EQ(Bytes(first.begin() + static_cast<std::ptrdiff_t>(offset), first.end()),
              Bytes(serial.begin(), serial.begin() + static_cast<std::ptrdiff_t>(inFirst)));
    EXPECT_EQ(Bytes(second.begin(), second.begin() + static_cast<std::ptrdiff_t>(inSecond)),
              Bytes(serial.begin() + static_cast<std::ptrdiff_t>(inFirst), serial.end()));
    EXPECT_EQ(second[inSecond], fill);
}

// ---------------------------------------------------------------------------

namespace {

class RecordingDevice final : public UsbDevice {
public:
    RecordingDevice(std::unique_ptr<UsbDevice> inner, std::string path, std::vector<Transfer>& log)
        : inner_(std::move(inner)), path_(std::move(path)), log_(log) {}

    TransferResult bulkTransfer(int pipe, uint8_t* data, uint32_t length, uint32_t timeoutMs) override {
        Transfer transfer{path_, pipe, {}};
        if (pipe == kPipeOut) transfer.request = decodeRequest(Bytes(data, data + length));
        log_.push_back(transfer);
        return inner_->bulkTransfer(pipe, data, length, timeoutMs);
    }
    bool controlTransfer(const ControlSetup& setup, uint8_t* data, uint16_t length, uint16_t* transferred,
                         uint32_t timeoutMs) override {
        return inner_->controlTransfer(setup, data, length, transferred, timeoutMs);
    }
    bool resetDevice() override { return inner_->resetDevice(); }
    bool clearHalt(int pipe) override { return inner_->clearHalt(pipe); }

private:
    std::unique_ptr<UsbDevice> inner_;
    std::string path_;
    std::vector<Transfer>& log_;
};

}  // namespace

RecordingBackend::RecordingBackend(UsbBackend& inner) : inner_(inner) { setBackendForTesting(this); }

RecordingBackend::~RecordingBackend() { setBackendForTesting(&inner_); }

bool RecordingBackend::enumerate(std::vector<DeviceEntry>& devices) { return inner_.enumerate(devices); }

std::unique_ptr<UsbDevice> RecordingBackend::open(const std::string& path) {
    auto device = inner_.open(path);
    if (device == nullptr) return nullptr;
    return std::make_unique<RecordingDevice>(std::move(device), path, transfers_);
}

}  // namespace vestra::usb::testing
