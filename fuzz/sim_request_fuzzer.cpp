// korvo-sim's request handling: the input is a run of request frames, each
// preceded by its size as two little-endian bytes, sent to one emulator. The
// first byte picks the chip's state: bit 0 read-protected, bit 1 only its
// security ID unlocks it. Every answer must be a well-formed "CHPM" frame
// carrying the request's sequence number.
#include <cstring>

#include "Emulator.h"
#include "Frame.h"
#include "FuzzSupport.h"

namespace {

korvo::Emulator MakeEmulator(uint8_t chipState) {
    korvo::ChipDescription description;
    description.flash = {{0x0000, 0x7FFF}, {0x10000, 0x13FFF}};
    description.blockSize = 0x400;
    description.productId = {0x01004560, 0x00040800, 0x11223344, 0x55667788};
    description.eraseOnlyBySecurityId = (chipState & 2) != 0;
    description.chipName = "51456";
    korvo::Chip chip(std::move(description));
    if ((chipState & 1) != 0) chip.protect({0x1122, 0x3344, 0x5566, 0x7788, 0x99AA});
    return korvo::Emulator({"korvo-00", "1.23", {}, {}}, std::move(chip));
}

void CheckAnswer(const uint8_t* request, size_t size, const korvo::Outcome& outcome) {
    korvo::Request parsed;
    const korvo::FrameCheck check = korvo::parseRequest(request, size, parsed);
    if (check == korvo::FrameCheck::TooShort || check == korvo::FrameCheck::NotARequest) {
        FUZZ_CHECK(!outcome.answer);
        return;
    }
    FUZZ_CHECK(outcome.answer.has_value());
    const std::vector<uint8_t>& answer = *outcome.answer;
    FUZZ_CHECK(answer.size() >= korvo::kFrameHeaderSize + 2);
    FUZZ_CHECK(std::memcmp(answer.data(), "CHPM", 4) == 0);
    FUZZ_CHECK(answer[5] == parsed.sequence);
    const uint32_t length = uint32_t{answer[12]} | uint32_t{answer[13]} << 8 | uint32_t{answer[14]} << 16 |
                            uint32_t{answer[15]} << 24;
    FUZZ_CHECK(answer.size() == korvo::kFrameHeaderSize + length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    korvo::Emulator emulator = MakeEmulator(data[0]);
    size_t at = 1;
    while (at + 2 <= size) {
        const size_t announced = size_t{data[at]} | size_t{data[at + 1]} << 8;
        at += 2;
        const size_t frameSize = std::min(announced, size - at);
        // A copy of exactly the frame, so that reading past it is seen.
        const std::vector<uint8_t> frame(data + at, data + at + frameSize);
        CheckAnswer(frame.data(), frame.size(), emulator.handleFrame(frame.data(), frame.size()));
        at += frameSize;
    }
    return 0;
}
