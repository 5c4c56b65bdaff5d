#include "plug/SecurityId.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quarnel {
namespace {

std::string UpperTrimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  std::string upper(text.substr(first, last - first + 1));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int HexValue(char c) { return c <= '9' ? c - '0' : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10; }

bool AllHex(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsHexDigit); }

}  // namespace

bool DecodeRememberedId(std::string_view text, size_t length, SecurityIdBuffer& bytes) {
  std::string digits = UpperTrimmed(text);
  if (digits.starts_with("0X")) digits.erase(0, 2);
  const bool allowed = std::all_of(digits.begin(), digits.end(), [](char c) { return IsHexDigit(c) || c == ':' || c == 'H'; });
  if (!allowed) return false;
  std::erase(digits, 'H');
  if (digits.size() > 2 * kSecurityIdBytes) return false;
  length = std::min(length, kSecurityIdBytes);

  const size_t count = (digits.size() + 1) / 2;
  SecurityIdBuffer decoded = bytes;
  size_t end = digits.size();
  for (size_t k = count; k-- > 0;) {
    const size_t begin = end >= 2 ? end - 2 : 0;
    const std::string_view pair = std::string_view(digits).substr(begin, end - begin);
    if (!AllHex(pair)) break;
    decoded[k] = static_cast<uint8_t>(pair.size() == 2 ? HexValue(pair[0]) * 16 + HexValue(pair[1]) : HexValue(pair[0]));
    end = begin;
  }
  if (count < length) {
    std::copy_backward(decoded.begin(), decoded.begin() + count, decoded.begin() + length);
    std::fill(decoded.begin(), decoded.begin() + (length - count), 0);
  }
  bytes = decoded;
  return true;
}

std::array<uint16_t, kSecurityIdWords> WordsFromBytes(const SecurityIdBuffer& bytes) {
  std::array<uint16_t, kSecurityIdWords> words{};
  for (size_t k = 0; k < words.size(); ++k) words[k] = static_cast<uint16_t>(bytes[2 * k] << 8 | bytes[2 * k + 1]);
  return words;
}

std::string EncodeSecurityId(std::span<const uint16_t> words) {
  std::string text;
  char digits[8];
  for (uint16_t word : words) {
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(word));
    text += digits;
  }
  return text;
}

std::vector<uint16_t> WordsFromFieldTexts(const SecurityFieldTexts& texts) {
  std::vector<uint16_t> words;
  for (const std::string& text : texts) {
    if (text.size() > 4 || !AllHex(text)) break;
    uint16_t word = 0;
    for (char c : text) word = static_cast<uint16_t>(word * 16 + HexValue(c));
    words.push_back(word);
  }
  return words;
}

}  // namespace quarnel
