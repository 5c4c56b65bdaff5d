#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "objfile/ObjectFileData.h"
#include "target/TargetGeometry.h"
#include "base/UserNotifier.h"

namespace quarnel {

// The three scans over an object file (Intel HEX or Motorola S records).
// Flash address = file address + offset, in wrapping 32-bit arithmetic.
// Messages go to the user as stop boxes with "%1" = the current file name.
class ObjectFileScanner {
 public:
  // Both references must outlive the scanner; the geometry is read at each
  // scan, so it follows the target that is selected at the time.
  ObjectFileScanner(const TargetGeometry& geometry, UserNotifier& user);

  // The file name used in messages and the offset used by the load scan.
  void SetCurrentFile(std::string fileName, int32_t offset);
  const std::string& CurrentFileName() const { return currentFileName_; }
  // The image that the load scan stores into, indexed by flash address.
  void SetWriteImage(std::span<uint8_t> image) { writeImage_ = image; }
  // Where load scans mark each byte they store with 1 (indexed as the write
  // image, at least as large); an empty span marks nothing.
  void SetStoredMask(std::span<uint8_t> mask) { storedMask_ = mask; }

  // Checks the whole file and reports every format error. Outputs the lowest
  // file address of any data record (0xFFFFFFFF without one) and the highest
  // flash address of any data byte (0 without one), inside the window or not.
  // With store, the bytes whose file address lies in [windowStart, windowEnd]
  // and whose flash address lies between the lowest and highest flash address
  // of the target are copied into the write image.
  bool LoadObjectFile(const ObjectFileData& file, uint32_t windowStart, uint32_t windowEnd, bool store,
                      uint32_t& lowestFileAddress, uint32_t& highestFlashAddress);

  // Tells whether a byte inside the window lands where the target has no
  // flash, or in the reserved tail. Both flags start false.
  bool ScanFlashPresence(const ObjectFileData& file, uint32_t windowStart, uint32_t windowEnd, int32_t offset,
                         bool& outsideFlash, bool& inTail);

  // Marks each byte inside the window whose flash address indexes the map;
  // false at the first byte that is already marked.
  bool MarkOccupiedBytes(const ObjectFileData& file, uint32_t windowStart, uint32_t windowEnd, int32_t offset,
                         std::span<uint8_t> map);

  // The text number and the text of the last error a scan reported; 0 and
  // empty before the first.
  int LastErrorId() const { return lastErrorId_; }
  const std::string& LastErrorText() const { return lastErrorText_; }

 private:
  void ShowError(int textId);

  const TargetGeometry& geometry_;
  UserNotifier& user_;
  std::string currentFileName_;
  int32_t currentOffset_ = 0;
  std::span<uint8_t> writeImage_;
  std::span<uint8_t> storedMask_;
  int lastErrorId_ = 0;
  std::string lastErrorText_;
};

}  // namespace quarnel
