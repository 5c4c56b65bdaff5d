#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

// The security ID as the chip takes it: a byte buffer of 256 bytes, sent as
// words of two bytes each, first byte high.
inline constexpr size_t kSecurityIdBytes = 256;
inline constexpr size_t kSecurityIdWords = kSecurityIdBytes / 2;
// The security ID dialog has twelve four-digit fields.
inline constexpr size_t kSecurityFieldCount = 12;

using SecurityIdBuffer = std::array<uint8_t, kSecurityIdBytes>;
using SecurityFieldTexts = std::array<std::string, kSecurityFieldCount>;

// Decodes a remembered ID text into the first `length` bytes of `bytes`,
// right-aligned (a short value gets zero bytes in front). Upper or lower
// case, blanks around it, a leading "0X" and any "H" are accepted; a ":"
// ends the digits taken from the end. False, with `bytes` unchanged, when
// the text holds another character or more digits than the buffer holds
// (512): such a text was not written by this program, and cutting it would
// send an ID the user never entered.
bool DecodeRememberedId(std::string_view text, size_t length, SecurityIdBuffer& bytes);

// The 128 words of the buffer, the first byte of each pair as the high byte.
std::array<uint16_t, kSecurityIdWords> WordsFromBytes(const SecurityIdBuffer& bytes);

// The remembered form: each word as "%04X", concatenated.
std::string EncodeSecurityId(std::span<const uint16_t> words);

// The words entered in the dialog: field by field, up to the first field
// that is not wholly hexadecimal digits (an empty position shows as a blank,
// so a field with a blank ends the ID before it).
std::vector<uint16_t> WordsFromFieldTexts(const SecurityFieldTexts& texts);

}  // namespace quarnel
