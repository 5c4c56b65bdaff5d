#include "image/AddressSyntax.h"

#include <cctype>
#include <cstdio>

namespace quarnel {
namespace {

std::string Normalise(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  std::string result(text.substr(first, last - first + 1));
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::string_view WithoutHexPrefix(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && text[1] == 'X') text.remove_prefix(2);
  return text;
}

// Upper-case hexadecimal digits with an optional trailing "H"; values above
// limit are refused.
std::optional<uint32_t> ParseHexPart(std::string_view part, uint32_t limit) {
  if (!part.empty() && part.back() == 'H') part.remove_suffix(1);
  if (part.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : part) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    if (value > limit) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> ParseNormalisedAddress(std::string_view text) {
  text = WithoutHexPrefix(text);
  if (text.find_first_not_of("0123456789ABCDEF:H") != std::string_view::npos) return std::nullopt;
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return ParseHexPart(text, 0xFFFFFF);
  auto segment = ParseHexPart(text.substr(0, colon), 0xFF);
  auto offset = ParseHexPart(text.substr(colon + 1), 0xFFFFFF);
  if (!segment || !offset) return std::nullopt;
  return *segment * 0x10000 + *offset;
}

// Applies the sign rule of offsets to text and parses the rest with parseRest.
template <typename ParseRest>
std::optional<int32_t> ParseSigned(std::string_view text, ParseRest parseRest) {
  if (text.empty()) return std::nullopt;
  bool negative = text[0] == '-';
  if (text[0] == '+' || text[0] == ' ' || negative) {
    text.remove_prefix(1);
  } else if (!std::isxdigit(static_cast<unsigned char>(text[0]))) {
    return std::nullopt;
  }
  std::optional<uint32_t> magnitude = parseRest(text);
  if (!magnitude) return std::nullopt;
  return static_cast<int32_t>(negative ? 0u - *magnitude : *magnitude);
}

}  // namespace

std::optional<uint32_t> ParseAddress(std::string_view text) { return ParseNormalisedAddress(Normalise(text)); }

std::optional<int32_t> ParseOffset(std::string_view text) {
  return ParseSigned(Normalise(text), [](std::string_view rest) { return ParseAddress(rest); });
}

std::optional<uint8_t> ParseFillByte(std::string_view text) {
  std::string normalised = Normalise(text);
  auto value = ParseHexPart(WithoutHexPrefix(normalised), 0xFF);
  if (!value) return std::nullopt;
  return static_cast<uint8_t>(*value);
}

std::string FormatAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%05lXH", static_cast<unsigned long>(address));
  return text;
}

std::string FormatOffset(int32_t offset) {
  uint32_t magnitude = offset < 0 ? 0u - static_cast<uint32_t>(offset) : static_cast<uint32_t>(offset);
  char sign = offset > 0 ? '+' : offset < 0 ? '-' : ' ';
  return sign + FormatAddress(magnitude);
}

std::optional<uint32_t> ParseColumnAddress(std::string_view text) {
  return ParseHexPart(Normalise(text), 0xFFFFFFFF);
}

std::optional<int32_t> ParseColumnOffset(std::string_view text) {
  return ParseSigned(Normalise(text), [](std::string_view rest) { return ParseColumnAddress(rest); });
}

}  // namespace quarnel
