#pragma once

// Builds well-formed object file records, for tests and benchmarks.

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

}  // namespace quarnel::testing
