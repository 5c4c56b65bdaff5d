#pragma once

#include <cstdint>
#include <string_view>

namespace quarnel {

// Hex digits as the object file formats read them: a character is upper-cased,
// "0"-"9" and "A"-"F" give their value and any other character gives 0 without
// an error. A position at or past the end of the line reads like such a
// character, so no reader ever looks beyond the line.
uint8_t HexByteAt(std::string_view line, size_t position);
uint16_t HexWordAt(std::string_view line, size_t position);

// Intel HEX: the (L - 1) / 2 bytes from character 1 sum to 0 modulo 256.
bool IntelChecksumOk(std::string_view line);
// Motorola S: the (L - 1) / 2 bytes from character 2 sum to 0xFF modulo 256.
bool SRecordChecksumOk(std::string_view line);

enum class RecordFormat { None, Intel, Motorola };

enum class RecordKind {
  Comment,    // empty, or not starting with ":" or "S": skipped silently
  BadChecksum,
  Data,       // Intel 00, S1, S2, S3
  IntelEnd,   // Intel 01
  IntelBase,  // Intel 02 or 04, already applied to the decoder's bases
  SHeader,    // S0, S5
  SEnd,       // S7, S8, S9
  Illegal,    // other types, or fields that the line does not hold
  AddressOverflow,  // data whose file address (bases included) runs past FFFFFFFFH
};

struct Record {
  RecordFormat format = RecordFormat::None;
  RecordKind kind = RecordKind::Comment;
  // Data: the file address of the first byte (bases included) and the bytes,
  // two characters each starting at dataPosition of line.
  uint32_t address = 0;
  uint32_t byteCount = 0;
  std::string_view line;
  size_t dataPosition = 0;
  // Data and SEnd: the S record type ('1'-'3', '7'-'9').
  char sType = 0;
  // IntelEnd: the line is ":00000001FF", letter case aside.
  bool exactEnd = false;

  uint8_t DataByte(uint32_t index) const { return HexByteAt(line, dataPosition + 2 * size_t{index}); }
};

// Decodes one line at a time and keeps the Intel HEX address bases (extended
// segment and extended linear) between lines; both start at 0 and add up.
class RecordDecoder {
 public:
  Record Decode(std::string_view line);

 private:
  Record DecodeIntel(std::string_view line);
  Record DecodeMotorola(std::string_view line);

  uint32_t segmentBase_ = 0;
  uint32_t linearBase_ = 0;
};

}  // namespace quarnel
