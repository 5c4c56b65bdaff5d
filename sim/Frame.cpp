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
    std::vector<uint8_t> frame(text, text + 4);
    const uint8_t rest[] = {kFrameVersion,
                            sequence,
                            0x00,
                            0x00,
                            0x00,
                            0x00,
                            0x00,
                            0x01,
                            static_cast<uint8_t>(length),
                            static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length >> 16),
                            static_cast<uint8_t>(length >> 24)};
    frame.insert(frame.end(), std::begin(rest), std::end(rest));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace korvo
