#include "link/EmuLink.h"

#include <algorithm>

#include "usb/UsbBackend.h"

using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kHeaderSize = 16;
constexpr uint8_t kRequestSignature[4] = {'C', 'H', 'R', 'M'};
constexpr uint8_t kAnswerSignature[4] = {'C', 'H', 'P', 'M'};
constexpr uint8_t kVersion = 0x01;

constexpr uint8_t kSpaceLow = 0x27;   // addresses below 0x10000
constexpr uint8_t kSpaceHigh = 0x2B;  // addresses from 0x10000 on

uint16_t bigEndian16(const Bytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

uint32_t bigEndian32(const Bytes& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) << 24 | static_cast<uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes[offset + 2]) << 8 | bytes[offset + 3];
}

uint32_t littleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void appendBigEndian16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void appendBigEndian32(Bytes& out, uint32_t value) {
    appendBigEndian16(out, static_cast<uint16_t>(value >> 16));
    appendBigEndian16(out, static_cast<uint16_t>(value));
}

void appendLittleEndian16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void appendLittleEndian32(Bytes& out, uint32_t value) {
    appendLittleEndian16(out, static_cast<uint16_t>(value));
    appendLittleEndian16(out, static_cast<uint16_t>(value >> 16));
}

Bytes encodeFrame(const EmuFrame& frame, uint8_t sequence) {
    Bytes bytes(std::begin(kRequestSignature), std::end(kRequestSignature));
    bytes.reserve(kHeaderSize + frame.length);
    bytes.push_back(kVersion);
    bytes.push_back(sequence);
    bytes.push_back(0x00);
    bytes.push_back(frame.headerByte);
    appendLittleEndian16(bytes, frame.headerWord1);
    appendLittleEndian16(bytes, frame.headerWord2);
    appendLittleEndian32(bytes, frame.length);
    bytes.insert(bytes.end(), frame.payload, frame.payload + frame.length);
    return bytes;
}

// "05 x0 30 S A3 A2 A1 A0": the head of the memory commands.
Bytes memoryRequest(uint8_t operation, uint32_t address) {
    Bytes request{0x05, operation, 0x30, address >= 0x10000 ? kSpaceHigh : kSpaceLow};
    appendBigEndian32(request, address);
    return request;
}

constexpr uint8_t kWriteOperation = 0x00;
constexpr uint8_t kReadOperation = 0x10;

}  // namespace

std::shared_mutex& CommandLock() {
    static std::shared_mutex lock;
    return lock;
}

CEmuLink::CEmuLink(const char* devicePath) : pipe_(kKorvoInterfaceGuid, kMaximumTransferSize) {
    if (pipe_.OpenDevice(devicePath) == 0) {
        unreachable_ = 1;
    }
}

CEmuLink::~CEmuLink() = default;

int CEmuLink::isUnreachable() const {
    return unreachable_;
}

uint32_t CEmuLink::getLastError() const {
    return lastError_;
}

uint8_t CEmuLink::getSequence() const {
    return sequence_;
}

// ---------------------------------------------------------------------------
// Frames

int CEmuLink::SendFrame(const EmuFrame& frame, uint8_t sequence) {
    Bytes bytes = encodeFrame(frame, sequence);
    if (pipe_.OpenPipe(vestra::usb::kPipeOut, 0) == 0) {
        unreachable_ = 1;
        return fail(LinkErrUnreachable);
    }
    unreachable_ = 0;
    uint32_t written = 0;
    if (pipe_.WritePipe(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) == 0) {
        pipe_.BusReset();
        pipe_.CloseDevice();
        return fail(LinkErrFrameWrite);
    }
    if (written == 0) {
        pipe_.ClrFeature(vestra::usb::kPipeOut);
        pipe_.ClosePipe();
        pipe_.CloseDevice();
        return fail(LinkErrFrameWrite);
    }
    pipe_.ClosePipe();
    return 1;
}

int CEmuLink::ReceiveFrame(EmuFrame& frame, uint8_t& sequence) {
    Bytes received(kReceiveBufferSize, 0);
    if (pipe_.OpenPipe(vestra::usb::kPipeIn, 0) == 0) {
        unreachable_ = 1;
        return fail(LinkErrUnreachable);
    }
    unreachable_ = 0;
    uint32_t count = 0;
    if (pipe_.ReadPipe(received.data(), kReceiveBufferSize, &count) == 0) {
        pipe_.BusReset();
        pipe_.CloseDevice();
        return fail(LinkErrAnswerRead);
    }
    if (count == 0) {
        pipe_.ClrFeature(vestra::usb::kPipeIn);
        pipe_.ClosePipe();
        pipe_.CloseDevice();
        return fail(LinkErrEmptyAnswer);
    }
    const uint32_t length = littleEndian32(&received[12]);
    if (count < kHeaderSize || length > frame.length || count - kHeaderSize < length) {
        pipe_.BusReset();
        pipe_.CloseDevice();
        return fail(LinkErrAnswerRead);
    }
    if (!std::equal(std::begin(kAnswerSignature), std::end(kAnswerSignature), received.begin()) ||
        received[4] != kVersion) {
        pipe_.BusReset();
        pipe_.CloseDevice();
        return fail(LinkErrBadAnswer);
    }
    sequence = received[5];
    frame.headerByte = received[7];
    frame.headerWord1 = static_cast<uint16_t>(received[8] | received[9] << 8);
    frame.headerWord2 = 0x0100;
    frame.length = length;
    std::copy_n(received.begin() + kHeaderSize, length, frame.payload);
    pipe_.ClosePipe();
    return 1;
}

// ---------------------------------------------------------------------------
// Exchange steps shared by every command

int CEmuLink::fail(uint32_t error) {
    lastError_ = error;
    return 0;
}

bool CEmuLink::sendRequest(const Bytes& request) {
    EmuFrame frame;
    frame.length = static_cast<uint32_t>(request.size());
    frame.payload = const_cast<uint8_t*>(request.data());  // a request frame is only read
    if (SendFrame(frame, sequence_) != 0) {
        return true;
    }
    ++sequence_;
    return false;
}

int CEmuLink::receiveAnswer(const AnswerShape& shape, const AnswerReader& read) {
    Bytes answer;
    int result = takeAnswer(shape, answer);
    ++sequence_;
    if (result != 0 && read && !read(answer)) {
        result = fail(LinkErrAnswerRead);
    }
    return result;
}

// An answer shorter than the fields its command reads is reported as
// LinkErrAnswerRead; nothing past the received payload is read.
int CEmuLink::takeAnswer(const AnswerShape& shape, Bytes& answer) {
    answer.assign(shape.capacity, 0);
    EmuFrame frame;
    frame.length = shape.capacity;
    frame.payload = answer.data();
    uint8_t received = 0;
    if (ReceiveFrame(frame, received) == 0) {
        return 0;
    }
    if (received != sequence_) {
        pipe_.BusReset();
        lastError_ = LinkErrSequence;
        pipe_.CloseDevice();
        return 0;
    }
    answer.resize(frame.length);
    if (answer.size() < 2) {
        return fail(LinkErrAnswerRead);
    }
    if (const uint16_t status = bigEndian16(answer, 0); status != 0) {
        return fail(status);
    }
    return answer.size() < shape.fields ? fail(LinkErrAnswerRead) : 1;
}

int CEmuLink::exchange(const Command& command, const AnswerReader& read) {
    std::lock_guard lock(CommandLock());
    std::lock_guard pipe(pipeLock_);
    if (!sendRequest(command.request)) {
        return 0;
    }
    return receiveAnswer(command.answer, read);
}

// Sends go out one at a time and in the caller's order: a lock-step step
// relies on every request being out before any answer is awaited.
int CEmuLink::sendOnly(const Command& command) {
    std::lock_guard lock(CommandLock());
    std::lock_guard pipe(pipeLock_);
    return sendRequest(command.request) ? 1 : 0;
}

// Shared: receives on different links wait for their answers side by side.
int CEmuLink::receiveOnly(const AnswerShape& shape, const AnswerReader& read) {
    std::shared_lock lock(CommandLock());
    std::lock_guard pipe(pipeLock_);
    return receiveAnswer(shape, read);
}

// ---------------------------------------------------------------------------
// Commands: each is its request bytes and the shape of its answer.

namespace {

using AnswerShape = CEmuLink::AnswerShape;
using Command = CEmuLink::Command;

constexpr AnswerShape kStatusAnswer{2, 2};
constexpr AnswerShape kEraseBlockAnswer{3, 2};  // the third byte is not read
constexpr AnswerShape kResultByteAnswer{3, 3};

Command writeMemoryCommand(uint32_t address, const uint8_t* data, uint16_t length) {
    Bytes request = memoryRequest(kWriteOperation, address);
    request.push_back(0x02);
    appendBigEndian16(request, length);
    request.insert(request.end(), data, data + length);
    return {std::move(request), kStatusAnswer};
}

Command eraseChipCommand() {
    return {{0x12, 0x10}, kStatusAnswer};
}

Command eraseBlockCommand(uint32_t blockAddress) {
    Bytes request{0x12, 0x12};
    appendBigEndian32(request, blockAddress);
    return {std::move(request), kEraseBlockAnswer};
}

Command systemResetCommand(uint8_t mode) {
    return {{0x07, 0x06, mode}, kResultByteAnswer};
}

bool fitsOneCommand(const uint8_t* bytes, uint16_t length) {
    return length <= CEmuLink::kMaxMemoryLength && (bytes != nullptr || length == 0);
}

CEmuLink::AnswerReader readWordAt(size_t offset, uint16_t& word) {
    return [offset, &word](const Bytes& answer) {
        word = bigEndian16(answer, offset);
        return true;
    };
}

CEmuLink::AnswerReader readResultByte(uint8_t& result) {
    return [&result](const Bytes& answer) {
        result = answer[2];
        return true;
    };
}

// Big-endian words from byte 2 on, the first into the highest element.
CEmuLink::AnswerReader readWords(uint32_t* id, size_t count) {
    return [id, count](const Bytes& answer) {
        for (size_t i = 0; i < count; ++i) {
            id[count - 1 - i] = bigEndian32(answer, 2 + 4 * i);
        }
        return true;
    };
}

}  // namespace

int CEmuLink::WriteMemory(uint32_t address, const uint8_t* data, uint16_t length) {
    if (!fitsOneCommand(data, length)) {
        return fail(LinkErrFrameWrite);  // refused unsent
    }
    return exchange(writeMemoryCommand(address, data, length));
}

int CEmuLink::WriteMemory_trans(uint32_t address, const uint8_t* data, uint16_t length) {
    if (!fitsOneCommand(data, length)) {
        return fail(LinkErrFrameWrite);  // refused unsent
    }
    return sendOnly(writeMemoryCommand(address, data, length));
}

int CEmuLink::WriteMemory_receive() {
    return receiveOnly(kStatusAnswer);
}

int CEmuLink::ReadMemory(uint32_t address, uint16_t length, uint8_t* buffer) {
    if (!fitsOneCommand(buffer, length)) {
        return fail(LinkErrFrameWrite);  // refused unsent
    }
    Bytes request = memoryRequest(kReadOperation, address);
    appendBigEndian16(request, length);
    request.push_back(0x02);
    return exchange({std::move(request), {length + 4u, 4}}, [&](const Bytes& answer) {
        // An answer with fewer bytes than asked for is a failed read: the
        // caller's buffer would otherwise keep stale bytes taken as flash.
        const uint16_t count = bigEndian16(answer, 2);
        if (count < length || answer.size() - 4 < length) {
            return false;
        }
        std::copy_n(answer.begin() + 4, length, buffer);
        return true;
    });
}

int CEmuLink::ReadWord(uint32_t address, uint16_t& word) {
    Bytes request = memoryRequest(kReadOperation, address);
    request.insert(request.end(), {0x00, 0x02, 0x02});
    return exchange({std::move(request), {6, 6}}, readWordAt(4, word));
}

int CEmuLink::EraseChip() {
    return exchange(eraseChipCommand());
}

int CEmuLink::EraseChip_trans() {
    return sendOnly(eraseChipCommand());
}

int CEmuLink::EraseChip_receive() {
    return receiveOnly(kStatusAnswer);
}

int CEmuLink::EraseBlock(uint32_t blockAddress) {
    return exchange(eraseBlockCommand(blockAddress));
}

int CEmuLink::EraseBlock_trans(uint32_t blockAddress) {
    return sendOnly(eraseBlockCommand(blockAddress));
}

int CEmuLink::EraseBlock_receive() {
    return receiveOnly(kEraseBlockAnswer);
}

int CEmuLink::UnlockProtect(uint8_t count, const uint16_t* words) {
    if (count > kMaxUnlockWords || (words == nullptr && count != 0)) {
        return fail(LinkErrFrameWrite);  // refused unsent
    }
    Bytes request{0x12, 0x30};
    for (uint8_t i = 0; i < count; ++i) {
        appendBigEndian16(request, words[i]);
    }
    return exchange({std::move(request), kStatusAnswer});
}

int CEmuLink::ReadProtect(uint16_t& word) {
    return exchange({{0x12, 0x32}, {4, 4}}, readWordAt(2, word));
}

int CEmuLink::ChipReset() {
    return exchange({{0x07, 0x00}, kStatusAnswer});
}

int CEmuLink::SystemReset(uint8_t mode, uint8_t& result) {
    return exchange(systemResetCommand(mode), readResultByte(result));
}

int CEmuLink::SystemReset_trans(uint8_t mode) {
    return sendOnly(systemResetCommand(mode));
}

int CEmuLink::SystemReset_receive(uint8_t& result) {
    return receiveOnly(kResultByteAnswer, readResultByte(result));
}

int CEmuLink::ReadProductId(uint32_t id[2]) {
    return exchange({{0x0A, 0x03, 0x3F, 0x09}, {10, 10}}, readWords(id, 2));
}

int CEmuLink::ReadProductId128(uint32_t id[4]) {
    return exchange({{0x0A, 0x05, 0x3F, 0x09}, {18, 18}}, readWords(id, 4));
}

int CEmuLink::SetTargetInfo(uint16_t first, uint16_t second, uint32_t address) {
    Bytes request{0x0A, 0x04};
    appendBigEndian16(request, first);
    appendBigEndian16(request, second);
    appendBigEndian32(request, address);
    request.push_back(0x00);
    return exchange({std::move(request), kStatusAnswer});
}

int CEmuLink::RemovePowerOnState(uint8_t& result) {
    return exchange({{0x00, 0xFD}, kResultByteAnswer}, readResultByte(result));
}

int CEmuLink::QueryInfo(uint16_t code, char* text, uint32_t size) {
    if (text == nullptr || size == 0) {
        return fail(LinkErrFrameWrite);  // refused unsent
    }
    Bytes request{0x0A, 0x00};
    appendBigEndian16(request, code);
    // No answer can exceed the receive buffer, whatever the caller's size.
    const uint32_t capacity = std::min(size, kReceiveBufferSize) + 4;
    return exchange({std::move(request), {capacity, 3}}, [&](const Bytes& answer) {
        const uint8_t length = answer[2];
        if (length > answer.size() - 3) {
            return false;
        }
        const size_t copied = std::min<size_t>(length, size - 1);
        std::copy_n(answer.begin() + 3, copied, text);
        text[copied] = '\0';
        return true;
    });
}
