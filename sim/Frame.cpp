#include "Frame.h"

#include <algorithm>
#include <cstring>

namespace korvo {
namespace {

constexpr uint8_t kFrameVersion = 0x01;
constexpr char kRequestSignature[] = "CHRM";
constexpr char kAnswerSignature[] = "CHPM";
constexpr size_t kSequenceOffset = 5;
constexpr size_t kLengthOffset = 12;

uint32_t readLittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

}  // namespace

FrameCheck parseRequest(const uint8_t* data, size_t size, Request& request) {
    if (size < kFrameHeaderSize) {
        return FrameCheck::TooShort;
    }
    if (std::memcmp(data, kRequestSignature, 4) != 0 || data[4] != kFrameVersion) {
        return FrameCheck::NotARequest;
    }
    request.sequence = data[kSequenceOffset];
    if (readLittleEndian32(data + kLengthOffset) != size - kFrameHeaderSize) {
        return FrameCheck::LengthMismatch;
    }
    request.payload.assign(data + kFrameHeaderSize, data + size);
    return FrameCheck::Ok;
}

std::vector<uint8_t> buildAnswer(uint8_t sequence, const std::vector<uint8_t>& payload, AnswerSignature signature) {
    const char* text = signature == AnswerSignature::Correct ? kAnswerSignature : kRequestSignature;
    const auto length = static_cast<uint32_t>(payload.size());
    // Header bytes 6 to 11 are 00 00 00 00 00 01; the rest is set below.
    std::vector<uint8_t> frame(kFrameHeaderSize + payload.size(), 0x00);
    std::memcpy(frame.data(), text, 4);
    frame[4] = kFrameVersion;
    frame[kSequenceOffset] = sequence;
    frame[11] = 0x01;
    for (size_t i = 0; i < 4; ++i) {
        frame[kLengthOffset + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderSize);
    return frame;
}

}  // namespace korvo
