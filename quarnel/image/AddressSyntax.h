#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// Texts that users type. Each parser trims blanks and ignores letter case.

// [0x] OFFSET or SEG:OFFSET, hexadecimal parts with an optional trailing H;
// SEG <= 0xFF gives bits 16-23, OFFSET <= 0xFFFFFF.
std::optional<uint32_t> ParseAddress(std::string_view text);
// "+", a blank or a hex digit first means positive, "-" negative; the rest is
// an address.
std::optional<int32_t> ParseOffset(std::string_view text);
// [0x] hexadecimal digits with an optional trailing H, at most 0xFF.
std::optional<uint8_t> ParseFillByte(std::string_view text);

// Texts of the file list columns: "%05lXH", and for offsets "+%05lXH",
// " %05lXH" for 0 and "-%05lXH" of the magnitude.
std::string FormatAddress(uint32_t address);
std::string FormatOffset(int32_t offset);

// Read the column texts back. They accept every value that the formats above
// produce, including addresses beyond the 24 bits that a user may type, so a
// listed file's values always survive the round trip.
std::optional<uint32_t> ParseColumnAddress(std::string_view text);
std::optional<int32_t> ParseColumnOffset(std::string_view text);

}  // namespace quarnel
