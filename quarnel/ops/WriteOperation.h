#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/FileList.h"
#include "ops/OperationContext.h"

namespace quarnel {

// The window's settings that Write & Check reads when it starts.
struct WriteSettings {
  bool eraseBeforeWrite = true;
  bool notFill = false;
  bool addTwoWords = false;
  FillMode fillMode = FillMode::FlashContent;
  std::string arbitraryData;
  // The end address mode currently selected in the window.
  EndAddressMode endMode = EndAddressMode::EndOfMemory;
};

// One planned write range.
struct WriteRange {
  std::string name;
  uint32_t start = 0;
  uint32_t end = 0;
  int32_t kind = 0;  // kFileData or kAdditionalData
  static constexpr int32_t kFileData = 0;
  static constexpr int32_t kAdditionalData = 1;
};

// Additional 2-word data found during planning.
struct AdditionalData {
  std::string name;
  uint32_t address = 0;
  uint32_t size = 0;
};

enum class OperationOutcome {
  NotStarted,  // declined, or stopped before anything reached the flash
  Completed,
  Cancelled,
  Failed,      // target 1 failed; the error line is in the log
};

// Write & Check: builds the write image from the fill data and the listed
// files, plans the additional 2-word data, and erases and writes the touched
// blocks on every plugged target.
class WriteOperation {
 public:
  explicit WriteOperation(OperationContext& context) : context_(context) {}

  OperationOutcome Run(const WriteSettings& settings);

  // Planning of the additional data over file ranges (all of kind 0); false
  // with no additions when a gap has no rule (message 2047 is up to the caller).
  static bool PlanAdditionalData(const std::vector<WriteRange>& ranges, const TargetGeometry& geometry,
                                 bool notFill, std::vector<AdditionalData>& additions);
  // Drops additions at a 64 KiB boundary and cuts those that cross one to 2 bytes.
  static void ApplyBoundaryRules(std::vector<AdditionalData>& additions);

 private:
  struct WrittenRange {
    uint32_t start = 0;
    uint32_t end = 0;
    int32_t block = 0;
    int32_t erased = 0;
  };

  bool Confirm();
  bool PrepareImage();
  bool PrepareFromFlashContent();
  bool PrepareFromFillByte();
  bool PlanFileRanges();
  bool AddAdditionalData();
  bool BlockIsWritten(size_t blockIndex) const;
  OperationOutcome WriteBlocks();
  bool WriteBlock(size_t blockIndex);
  bool WriteBlockFilesOnly(size_t blockIndex, bool preservedTouched);
  bool WriteBlockInFull(size_t blockIndex, bool preservedTouched);
  bool WriteWindow(uint32_t first, uint32_t last);
  OperationOutcome FailRun(int textId);
  void LogSummary(bool cancelled);
  void LogHeader();

  OperationContext& context_;
  WriteSettings settings_;
  uint8_t fillByte_ = 0xFF;
  std::vector<WriteRange> ranges_;
  std::vector<WrittenRange> written_;
};

}  // namespace quarnel
