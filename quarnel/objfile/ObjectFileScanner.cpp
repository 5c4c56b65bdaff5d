#include "objfile/ObjectFileScanner.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/StringTable.h"
#include "base/TextIds.h"
#include "objfile/HexRecord.h"

namespace quarnel {
namespace {

bool InWindow(uint32_t address, uint32_t windowStart, uint32_t windowEnd) {
  return address >= windowStart && address <= windowEnd;
}

// The running state of one load scan.
class LoadScan {
 public:
  LoadScan(uint32_t windowStart, uint32_t windowEnd, uint32_t offset)
      : windowStart_(windowStart), windowEnd_(windowEnd), offset_(offset) {}

  // Returns the message of an error that stops the scan, 0 to go on.
  int Take(const Record& record);
  bool EndRecordReached() const { return endRecordReached_; }
  // The message of the checks at the end, 0 when they pass.
  int FinalCheck() const;

  void StoreInto(std::span<uint8_t> image, std::span<uint8_t> stored, uint32_t flashLow, uint32_t flashHigh) {
    image_ = image;
    stored_ = stored.size() >= image.size() ? stored : std::span<uint8_t>();
    storeLow_ = flashLow;
    storeHigh_ = flashHigh;
  }
  uint32_t LowestFileAddress() const { return lowestFileAddress_; }
  uint32_t HighestFlashAddress() const { return highestFlashAddress_; }

 private:
  int TakeIntel(const Record& record);
  int TakeMotorola(const Record& record);
  void TakeData(const Record& record);
  // A record whose flash addresses (file address + offset) wrap past 0xFFFFFFFF.
  void TakeWrappingData(const Record& record);
  static size_t DataFlagIndex(char sType) { return static_cast<size_t>(sType - '1'); }

  uint32_t windowStart_;
  uint32_t windowEnd_;
  uint32_t offset_;
  // Marks with 1 every image byte a record stored; empty when not asked for.
  std::span<uint8_t> stored_;
  std::span<uint8_t> image_;
  uint32_t storeLow_ = 0;
  uint32_t storeHigh_ = 0;

  RecordFormat format_ = RecordFormat::None;
  std::array<bool, 3> sDataOpen_{};  // S1, S2, S3 data without its end record
  bool endRecordReached_ = false;
  bool dataSeen_ = false;
  uint32_t lowestFileAddress_ = 0xFFFFFFFF;
  uint32_t highestFlashAddress_ = 0;
};

int LoadScan::Take(const Record& record) {
  if (record.format == RecordFormat::None) return 0;
  if (format_ != RecordFormat::None && record.format != format_) return text::kIllegalFormat;
  format_ = record.format;
  return record.format == RecordFormat::Intel ? TakeIntel(record) : TakeMotorola(record);
}

int LoadScan::TakeIntel(const Record& record) {
  switch (record.kind) {
    case RecordKind::BadChecksum:
      return text::kIntelChecksumError;
    case RecordKind::IntelEnd:
      endRecordReached_ = true;
      return record.exactEnd ? 0 : text::kIllegalEndRecord;
    case RecordKind::Data:
      TakeData(record);
      return 0;
    case RecordKind::IntelBase:
      return 0;
    case RecordKind::AddressOverflow:
      return text::kAddressTooLarge;
    default:
      return text::kIllegalFormat;
  }
}

int LoadScan::TakeMotorola(const Record& record) {
  switch (record.kind) {
    case RecordKind::BadChecksum:
      return text::kSRecordChecksumError;
    case RecordKind::SHeader:
      return 0;
    case RecordKind::SEnd: {
      // S7 closes S3 data, S8 closes S2 data, S9 closes S1 data.
      bool& open = sDataOpen_[DataFlagIndex(static_cast<char>('1' + ('9' - record.sType)))];
      if (!open) return text::kUnpairedEndRecord;
      open = false;
      return 0;
    }
    case RecordKind::Data:
      sDataOpen_[DataFlagIndex(record.sType)] = true;
      TakeData(record);
      return 0;
    case RecordKind::AddressOverflow:
      return text::kAddressTooLarge;
    default:
      return text::kIllegalFormat;
  }
}

void LoadScan::TakeData(const Record& record) {
  lowestFileAddress_ = std::min(lowestFileAddress_, record.address);
  dataSeen_ = true;
  if (record.byteCount == 0) return;
  uint32_t last = record.byteCount - 1;
  uint32_t flashFirst = record.address + offset_;
  if (record.address > UINT32_MAX - last || flashFirst > UINT32_MAX - last) {
    TakeWrappingData(record);
    return;
  }
  highestFlashAddress_ = std::max(highestFlashAddress_, flashFirst + last);
  if (image_.empty()) return;
  // Neither address wraps inside this record, so the bytes to store are one
  // run: inside the window, the store range and the image.
  int64_t storeTop = std::min<int64_t>(storeHigh_, static_cast<int64_t>(image_.size()) - 1);
  int64_t first = std::max({int64_t{0}, int64_t{windowStart_} - record.address, int64_t{storeLow_} - flashFirst});
  int64_t final = std::min({int64_t{last}, int64_t{windowEnd_} - record.address, storeTop - flashFirst});
  for (int64_t i = first; i <= final; ++i) {
    image_[flashFirst + static_cast<uint32_t>(i)] = record.DataByte(static_cast<uint32_t>(i));
  }
  if (!stored_.empty() && first <= final)
    std::fill(stored_.begin() + flashFirst + first, stored_.begin() + flashFirst + final + 1, 1);
}

void LoadScan::TakeWrappingData(const Record& record) {
  for (uint32_t i = 0; i < record.byteCount; ++i) {
    uint32_t fileAddress = record.address + i;
    uint32_t flashAddress = fileAddress + offset_;
    if (!image_.empty() && flashAddress >= storeLow_ && flashAddress <= storeHigh_ &&
        flashAddress < image_.size() && InWindow(fileAddress, windowStart_, windowEnd_)) {
      image_[flashAddress] = record.DataByte(i);
      if (!stored_.empty()) stored_[flashAddress] = 1;
    }
    highestFlashAddress_ = std::max(highestFlashAddress_, flashAddress);
  }
}

int LoadScan::FinalCheck() const {
  if (std::find(sDataOpen_.begin(), sDataOpen_.end(), true) != sDataOpen_.end()) return text::kNoEndRecord;
  if (!dataSeen_) return text::kNoDataRecord;
  if (format_ == RecordFormat::Intel && !endRecordReached_) return text::kNoEndRecord;
  return 0;
}

// Calls visit(flashAddress) for every data byte whose file address lies
// in the window.
template <typename Visit>
bool ForEachByteInWindow(const Record& record, uint32_t windowStart, uint32_t windowEnd, uint32_t offset,
                         Visit&& visit) {
  for (uint32_t i = 0; i < record.byteCount; ++i) {
    uint32_t fileAddress = record.address + i;
    if (InWindow(fileAddress, windowStart, windowEnd) && !visit(fileAddress + offset)) return false;
  }
  return true;
}

// Decodes the file line by line from its beginning and hands each record to
// take until take returns false.
template <typename Take>
void ForEachRecord(const ObjectFileData& file, Take&& take) {
  RecordDecoder decoder;
  LineCursor lines(file.Content());
  std::string_view line;
  while (lines.Next(line) && take(decoder.Decode(line))) {
  }
}

}  // namespace

ObjectFileScanner::ObjectFileScanner(const TargetGeometry& geometry, UserNotifier& user)
    : geometry_(geometry), user_(user) {}

void ObjectFileScanner::SetCurrentFile(std::string fileName, int32_t offset) {
  currentFileName_ = std::move(fileName);
  currentOffset_ = offset;
}

void ObjectFileScanner::ShowError(int textId) {
  lastErrorId_ = textId;
  lastErrorText_ = FormatText(textId, currentFileName_);
  user_.ShowMessage(MessageStyle::Stop, lastErrorText_);
}

bool ObjectFileScanner::LoadObjectFile(const ObjectFileData& file, uint32_t windowStart, uint32_t windowEnd,
                                       bool store, uint32_t& lowestFileAddress, uint32_t& highestFlashAddress) {
  LoadScan scan(windowStart, windowEnd, static_cast<uint32_t>(currentOffset_));
  if (store) scan.StoreInto(writeImage_, storedMask_, geometry_.flashLow, geometry_.flashHigh);
  int error = 0;
  ForEachRecord(file, [&](const Record& record) {
    error = scan.Take(record);
    return error == 0 && !scan.EndRecordReached();
  });
  if (error == 0) error = scan.FinalCheck();
  lowestFileAddress = scan.LowestFileAddress();
  highestFlashAddress = scan.HighestFlashAddress();
  if (error != 0) ShowError(error);
  return error == 0;
}

bool ObjectFileScanner::ScanFlashPresence(const ObjectFileData& file, uint32_t windowStart, uint32_t windowEnd,
                                          int32_t offset, bool& outsideFlash, bool& inTail) {
  outsideFlash = false;
  inTail = false;
  auto check = [&](uint32_t flashAddress) {
    outsideFlash = outsideFlash || !geometry_.IsFlash(flashAddress);
    inTail = inTail || geometry_.InReservedTail(flashAddress);
    return true;
  };
  int error = 0;
  ForEachRecord(file, [&](const Record& record) {
    if (record.kind == RecordKind::Data) {
      return ForEachByteInWindow(record, windowStart, windowEnd, static_cast<uint32_t>(offset), check);
    }
    if (record.kind == RecordKind::AddressOverflow) error = text::kAddressTooLarge;
    if (record.format == RecordFormat::Motorola) return error == 0 && record.kind != RecordKind::Illegal;
    if (record.kind == RecordKind::BadChecksum) error = text::kIntelChecksumError;
    if (record.kind == RecordKind::Illegal) error = text::kIllegalFormat;
    if (record.kind == RecordKind::IntelEnd && !record.exactEnd) error = text::kIllegalEndRecord;
    return error == 0 && record.kind != RecordKind::IntelEnd;
  });
  if (error != 0) ShowError(error);
  return error == 0;
}

bool ObjectFileScanner::MarkOccupiedBytes(const ObjectFileData& file, uint32_t windowStart, uint32_t windowEnd,
                                          int32_t offset, std::span<uint8_t> map) {
  auto mark = [map](uint32_t flashAddress) {
    if (flashAddress >= map.size()) return true;
    if (map[flashAddress] != 0) return false;
    map[flashAddress] = 1;
    return true;
  };
  bool repeated = false;
  ForEachRecord(file, [&](const Record& record) {
    if (record.kind == RecordKind::Data) {
      repeated = !ForEachByteInWindow(record, windowStart, windowEnd, static_cast<uint32_t>(offset), mark);
      return !repeated;
    }
    // The load scan writes nothing after an Intel end record, so nothing
    // after it can collide.
    if (record.kind == RecordKind::AddressOverflow) return false;
    if (record.format == RecordFormat::Intel) {
      return record.kind != RecordKind::BadChecksum && record.kind != RecordKind::IntelEnd;
    }
    return record.kind != RecordKind::Illegal;
  });
  return !repeated;
}

}  // namespace quarnel
