#pragma once

// Builds well-formed object file records, for tests and benchmarks.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace quarnel::testing {

inline void AppendHexByte(std::string& out, uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[value >> 4]);
  out.push_back(kDigits[value & 0xF]);
}

// ":" count, load offset, type, data, checksum; no line end.
inline void AppendIntelRecord(std::string& out, uint8_t type, uint16_t loadOffset, std::span<const uint8_t> data) {
  uint8_t count = static_cast<uint8_t>(data.size());
  uint8_t sum = static_cast<uint8_t>(count + (loadOffset >> 8) + (loadOffset & 0xFF) + type);
  out.push_back(':');
  AppendHexByte(out, count);
  AppendHexByte(out, static_cast<uint8_t>(loadOffset >> 8));
  AppendHexByte(out, static_cast<uint8_t>(loadOffset));
  AppendHexByte(out, type);
  for (uint8_t byte : data) {
    AppendHexByte(out, byte);
    sum = static_cast<uint8_t>(sum + byte);
  }
  AppendHexByte(out, static_cast<uint8_t>(0x100 - sum));
}

// "S" type, count, address (2, 3 or 4 bytes by type), data, checksum; no
// line end. Types 0, 1, 5, 9 use 2 address bytes, 2 and 8 use 3, 3 and 7 use 4.
inline void AppendSRecord(std::string& out, char type, uint32_t address, std::span<const uint8_t> data) {
  int addressBytes = (type == '2' || type == '8') ? 3 : (type == '3' || type == '7') ? 4 : 2;
  uint8_t count = static_cast<uint8_t>(addressBytes + data.size() + 1);
  uint8_t sum = count;
  out.push_back('S');
  out.push_back(type);
  AppendHexByte(out, count);
  for (int i = addressBytes - 1; i >= 0; --i) {
    uint8_t byte = static_cast<uint8_t>(address >> (8 * i));
    AppendHexByte(out, byte);
    sum = static_cast<uint8_t>(sum + byte);
  }
  for (uint8_t byte : data) {
    AppendHexByte(out, byte);
    sum = static_cast<uint8_t>(sum + byte);
  }
  AppendHexByte(out, static_cast<uint8_t>(0xFF - sum));
}

inline std::string IntelRecord(uint8_t type, uint16_t loadOffset, std::vector<uint8_t> data = {}) {
  std::string line;
  AppendIntelRecord(line, type, loadOffset, data);
  return line;
}

inline std::string SRecord(char type, uint32_t address, std::vector<uint8_t> data = {}) {
  std::string line;
  AppendSRecord(line, type, address, data);
  return line;
}

// An Intel 02 or 04 record carrying a 16-bit base value.
inline std::string IntelBaseRecord(uint8_t type, uint16_t value) {
  return IntelRecord(type, 0, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

// Intel HEX text with `bytes` from `address` on: 16-byte records, an 04
// record wherever the upper address half changes.
inline std::string IntelHexText(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string text;
  int upper = -1;
  for (size_t i = 0; i < bytes.size();) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    if (static_cast<int>(at >> 16) != upper) {
      upper = static_cast<int>(at >> 16);
      text += IntelBaseRecord(4, static_cast<uint16_t>(upper)) + "\n";
    }
    const size_t count = std::min<size_t>({16, bytes.size() - i, 0x10000 - (at & 0xFFFF)});
    text += IntelRecord(0, static_cast<uint16_t>(at), std::vector<uint8_t>(bytes.begin() + i, bytes.begin() + i + count));
    text += "\n";
    i += count;
  }
  return text + ":00000001FF\n";
}

// One or two numbers in a printf format, for expected lines and names.
inline std::string Hex(const char* format, uint32_t a, uint32_t b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace quarnel::testing
