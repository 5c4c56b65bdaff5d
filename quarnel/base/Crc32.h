#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace quarnel {

// CRC-32 as zlib, gzip and PNG compute it (reflected polynomial EDB88320H,
// initial and final value FFFFFFFFH). Feed the bytes in order, in as many
// pieces as is convenient, then take Value().
class Crc32 {
 public:
  void Add(std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) state_ = Table()[(state_ ^ byte) & 0xFF] ^ (state_ >> 8);
  }
  uint32_t Value() const { return ~state_; }

 private:
  static const std::array<uint32_t, 256>& Table() {
    static const std::array<uint32_t, 256> table = [] {
      std::array<uint32_t, 256> t{};
      for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
      }
      return t;
    }();
    return table;
  }

  uint32_t state_ = 0xFFFFFFFFu;
};

// A CRC-32 as records, logs and JSON show it: eight upper-case hex digits.
inline std::string Crc32Text(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
  return text;
}

}  // namespace quarnel
