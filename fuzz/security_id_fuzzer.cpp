// The remembered security ID as the settings file holds it, which anyone can
// edit: byte 0 is the remembered size, the rest the "SECUREID" text. A
// decoded ID stays inside its buffer, a refused one leaves the buffer as it
// was, and every ID the program remembers (always a whole number of words)
// decodes back to the same words.
#include <algorithm>
#include <string>

#include "FuzzSupport.h"
#include "plug/SecurityId.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t length = data[0] == 0 ? 4 : data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    quarnel::SecurityIdBuffer bytes;
    bytes.fill(0xA5);
    const quarnel::SecurityIdBuffer before = bytes;
    if (!quarnel::DecodeRememberedId(text, length, bytes)) {
        FUZZ_CHECK(bytes == before);
        return 0;
    }
    if (length % 2 != 0) return 0;
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(length), bytes.end(), 0);
    const auto words = quarnel::WordsFromBytes(bytes);
    const std::span<const uint16_t> sent(words.data(), length / 2);
    const std::string remembered = quarnel::EncodeSecurityId(sent);
    quarnel::SecurityIdBuffer again{};
    FUZZ_CHECK(quarnel::DecodeRememberedId(remembered, length, again));
    std::fill(again.begin() + static_cast<std::ptrdiff_t>(length), again.end(), 0);
    const auto wordsAgain = quarnel::WordsFromBytes(again);
    FUZZ_CHECK(std::equal(sent.begin(), sent.end(), wordsAgain.begin()));
    return 0;
}
