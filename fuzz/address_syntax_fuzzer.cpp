// The address texts users type and the library reads: one input as the
// text for every parser. What a parser accepts must survive the program's
// own column formats unchanged.
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "image/AddressSyntax.h"
#include "target/TrgFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    uint32_t number = 0;
    vestra::target::AdrsToNumText(text, number);

    if (const auto address = quarnel::ParseAddress(text)) {
        FUZZ_CHECK(quarnel::ParseColumnAddress(quarnel::FormatAddress(*address)) == address);
        if (*address <= 0xFFFFFF) FUZZ_CHECK(quarnel::ParseAddress(quarnel::FormatAddress(*address)) == address);
    }
    if (const auto offset = quarnel::ParseOffset(text)) {
        FUZZ_CHECK(quarnel::ParseColumnOffset(quarnel::FormatOffset(*offset)) == offset);
    }
    quarnel::ParseFillByte(text);
    if (const auto column = quarnel::ParseColumnAddress(text)) {
        FUZZ_CHECK(quarnel::ParseColumnAddress(quarnel::FormatAddress(*column)) == column);
    }
    if (const auto column = quarnel::ParseColumnOffset(text)) {
        FUZZ_CHECK(quarnel::ParseColumnOffset(quarnel::FormatOffset(*column)) == column);
    }
    return 0;
}
