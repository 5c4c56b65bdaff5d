#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/FileList.h"
#include "ops/OperationContext.h"
#include "ops/TargetContents.h"
#include "ops/WritePlan.h"

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
  // Addresses the run must write on every target (a serial number); when the
  // plan leaves any of them out, nothing is written (see RequiredRangeMissed).
  std::optional<AddressRange> mustWrite;
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
  // with no additions when a gap has no rule (text::kInternalError1013 is up to the caller).
  static bool PlanAdditionalData(const std::vector<WriteRange>& ranges, const TargetGeometry& geometry,
                                 bool notFill, std::vector<AdditionalData>& additions);
  // Drops additions at a 64 KiB boundary and cuts those that cross one to 2
  // bytes; drops those that start outside every flash area and cuts those
  // that end outside one to the 2 bytes inside.
  static void ApplyBoundaryRules(std::vector<AdditionalData>& additions, const TargetGeometry& geometry);

  // The last run ended before writing because its plan left out part of
  // WriteSettings::mustWrite.
  bool RequiredRangeMissed() const { return requiredRangeMissed_; }
  // The bytes the last run wrote to each target (the windows of the steps it
  // completed).
  uint64_t BytesWritten() const { return bytesWritten_; }
  // Why the last run ended before writing, as its box said; empty when it
  // did not, or when a question was answered no.
  const std::string& Refusal() const { return refusal_; }
  // The flash image the last run planned, from the lowest flash address to
  // the highest: the files' and additional data, and the fill byte (FFH
  // when filling with the flash content) wherever a target keeps its own
  // bytes, handed over once. Empty when the run did not get as far as its plan.
  std::vector<uint8_t> TakePlannedImage() { return std::move(plannedImage_); }

 private:
  bool Confirm();
  bool TakeFillByte();
  ReadOutcome PrepareImage(TargetContents& contents);
  bool PlanFileRanges();
  bool AddAdditionalData(std::span<uint8_t> storedMask);
  void KeepPlannedImage(std::span<const uint8_t> storedMask);
  OperationOutcome WriteBlocks(TargetContents& contents);
  OperationOutcome FailRun(int textId);
  OperationOutcome EndIdle(OperationOutcome outcome);
  void LogSummary(bool cancelled);
  void LogHeader();

  OperationContext& context_;
  WriteSettings settings_;
  uint8_t fillByte_ = 0xFF;
  std::vector<WriteRange> ranges_;
  std::vector<WriteStep> steps_;
  std::vector<WrittenRange> written_;
  bool requiredRangeMissed_ = false;
  uint64_t bytesWritten_ = 0;
  std::string refusal_;
  std::vector<uint8_t> plannedImage_;
};

}  // namespace quarnel
