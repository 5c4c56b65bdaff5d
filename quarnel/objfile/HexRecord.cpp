#include "objfile/HexRecord.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quarnel {
namespace {

constexpr std::array<uint8_t, 256> MakeDigitTable() {
  std::array<uint8_t, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) {
    table[c] = static_cast<uint8_t>(c - 'A' + 10);
    table[c - 'A' + 'a'] = static_cast<uint8_t>(c - 'A' + 10);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kDigit = MakeDigitTable();

uint8_t DigitAt(std::string_view line, size_t position) {
  return position < line.size() ? kDigit[static_cast<unsigned char>(line[position])] : 0;
}

// Sum of the (L - 1) / 2 bytes that start at firstPosition.
// The pairs that lie wholly inside the line are read directly; only the last
// byte of an S record line of odd length reaches past the end.
uint8_t ByteSum(std::string_view line, size_t firstPosition) {
  size_t count = line.empty() ? 0 : (line.size() - 1) / 2;
  size_t inside = line.size() > firstPosition ? std::min(count, (line.size() - firstPosition) / 2) : 0;
  const auto* text = reinterpret_cast<const unsigned char*>(line.data()) + firstPosition;
  unsigned sum = 0;
  for (size_t i = 0; i < inside; ++i) sum += kDigit[text[2 * i]] << 4 | kDigit[text[2 * i + 1]];
  for (size_t i = inside; i < count; ++i) sum += HexByteAt(line, firstPosition + 2 * i);
  return static_cast<uint8_t>(sum);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// A record of the line's format whose kind is still to be decided, unless
// the checksum already failed.
Record CheckedRecord(RecordFormat format, std::string_view line, bool checksumOk) {
  Record record;
  record.format = format;
  record.line = line;
  record.kind = checksumOk ? RecordKind::Illegal : RecordKind::BadChecksum;
  return record;
}

constexpr size_t kIntelDataPosition = 9;
// Colon, count, load offset, type and checksum.
constexpr size_t kIntelFrameCharacters = 11;

// The first and the last data byte of a record have 32-bit file addresses.
bool FitsIn32Bits(uint64_t address, uint32_t byteCount) {
  return address + (byteCount == 0 ? 0 : byteCount - 1) <= UINT32_MAX;
}

}  // namespace

uint8_t HexByteAt(std::string_view line, size_t position) {
  return static_cast<uint8_t>(DigitAt(line, position) << 4 | DigitAt(line, position + 1));
}

uint16_t HexWordAt(std::string_view line, size_t position) {
  return static_cast<uint16_t>(HexByteAt(line, position) << 8 | HexByteAt(line, position + 2));
}

bool IntelChecksumOk(std::string_view line) { return ByteSum(line, 1) == 0; }

bool SRecordChecksumOk(std::string_view line) { return ByteSum(line, 2) == 0xFF; }

Record RecordDecoder::Decode(std::string_view line) {
  if (line.empty()) return Record{};
  if (line[0] == ':') return DecodeIntel(line);
  if (line[0] == 'S') return DecodeMotorola(line);
  return Record{};
}

Record RecordDecoder::DecodeIntel(std::string_view line) {
  Record record = CheckedRecord(RecordFormat::Intel, line, IntelChecksumOk(line));
  if (record.kind == RecordKind::BadChecksum) return record;
  uint32_t count = HexByteAt(line, 1);
  bool holdsAnnouncedBytes = line.size() >= kIntelFrameCharacters + 2 * count;
  switch (HexByteAt(line, 7)) {
    case 0x00:
      if (!holdsAnnouncedBytes) break;
      record.kind = FitsIn32Bits(uint64_t{HexWordAt(line, 3)} + segmentBase_ + linearBase_, count)
                        ? RecordKind::Data
                        : RecordKind::AddressOverflow;
      record.address = HexWordAt(line, 3) + segmentBase_ + linearBase_;
      record.byteCount = count;
      record.dataPosition = kIntelDataPosition;
      break;
    case 0x01:
      record.kind = RecordKind::IntelEnd;
      record.exactEnd = EqualsIgnoringCase(line, ":00000001FF");
      break;
    case 0x02:
    case 0x04:
      if (!holdsAnnouncedBytes || line.size() < kIntelDataPosition + 4) break;
      record.kind = RecordKind::IntelBase;
      if (HexByteAt(line, 7) == 0x02) {
        segmentBase_ = uint32_t{HexWordAt(line, kIntelDataPosition)} << 4;
      } else {
        linearBase_ = uint32_t{HexWordAt(line, kIntelDataPosition)} << 16;
      }
      break;
    default:
      break;
  }
  return record;
}

Record RecordDecoder::DecodeMotorola(std::string_view line) {
  Record record = CheckedRecord(RecordFormat::Motorola, line, SRecordChecksumOk(line));
  if (record.kind == RecordKind::BadChecksum) return record;
  record.sType = line[1];  // a checksum-correct line has at least 3 characters
  switch (record.sType) {
    case '0':
    case '5':
      record.kind = RecordKind::SHeader;
      return record;
    case '7':
    case '8':
    case '9':
      record.kind = RecordKind::SEnd;
      return record;
    case '1':
    case '2':
    case '3':
      break;
    default:
      return record;
  }
  // S1, S2, S3 carry 2, 3, 4 address bytes; the count covers address, data
  // and checksum, and the data byte count is computed in 8 bits.
  uint32_t addressBytes = static_cast<uint32_t>(record.sType - '1') + 2;
  uint8_t dataBytes = static_cast<uint8_t>(HexByteAt(line, 2) - addressBytes - 1);
  record.dataPosition = 4 + 2 * addressBytes;
  if (line.size() < record.dataPosition + 2 * size_t{dataBytes} + 2) return record;
  record.kind = RecordKind::Data;
  record.byteCount = dataBytes;
  if (record.sType == '1') {
    record.address = HexWordAt(line, 4);
  } else if (record.sType == '2') {
    record.address = uint32_t{HexByteAt(line, 4)} << 16 | HexWordAt(line, 6);
  } else {
    record.address = uint32_t{HexWordAt(line, 4)} << 16 | HexWordAt(line, 8);
  }
  if (!FitsIn32Bits(record.address, dataBytes)) record.kind = RecordKind::AddressOverflow;
  return record;
}

}  // namespace quarnel
