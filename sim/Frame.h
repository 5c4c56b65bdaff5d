// Frames as the emulator sees them: "CHRM" requests in, "CHPM" answers out.
// Header fields are little-endian; payload values big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvo {

constexpr size_t kFrameHeaderSize = 16;

struct Request {
    uint8_t sequence = 0;
    std::vector<uint8_t> payload;
};

enum class FrameCheck {
    Ok,
    TooShort,        // fewer bytes than a header
    NotARequest,     // signature is not "CHRM" or the version not 0x01
    LengthMismatch,  // header length disagrees with the bytes that came
};

// Unpacks a request. On LengthMismatch the sequence number is still set,
// so that the emulator can answer it.
FrameCheck parseRequest(const uint8_t* data, size_t size, Request& request);

enum class AnswerSignature { Correct, Wrong };

// A "CHPM" answer carrying `payload` under `sequence`; with
// AnswerSignature::Wrong it starts "CHRM" instead.
std::vector<uint8_t> buildAnswer(uint8_t sequence, const std::vector<uint8_t>& payload,
                                 AnswerSignature signature = AnswerSignature::Correct);

inline uint16_t readBigEndian16(const uint8_t* bytes) { return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]); }

inline uint32_t readBigEndian32(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

inline void appendBigEndian16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void appendBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    appendBigEndian16(out, static_cast<uint16_t>(value >> 16));
    appendBigEndian16(out, static_cast<uint16_t>(value));
}

}  // namespace korvo
