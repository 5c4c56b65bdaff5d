#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "ops/OperationContext.h"
#include "ops/WriteOperation.h"

namespace quarnel {

// The window's settings that Verify reads when it starts.
struct VerifySettings {
  FillMode fillMode = FillMode::FlashContent;
  std::string arbitraryData;
};

// Verify: reads the flash of every plugged target, builds the expected image
// as a write would fill it, and lists every differing byte of each row's
// flash range in the log (target 1 first, then each further target).
class VerifyOperation {
 public:
  explicit VerifyOperation(OperationContext& context) : context_(context) {}

  OperationOutcome Run(const VerifySettings& settings);

  // Compares the write image (expected) with the read-back image over
  // [flashStart, flashEnd], flash addresses only and never the reserved tail,
  // logging each difference. False when cancelled. Lets the window react
  // every few milliseconds of work.
  bool CompareRange(uint32_t flashStart, uint32_t flashEnd, long& differences);

 private:
  enum class Step { Done, Cancelled, Ended };

  bool TakeFillByte();
  bool ReadTargetFlash(uint32_t target);
  void BuildExpectedFromReadBack();
  Step LoadFiles();
  Step CompareRows(bool withHeader);
  bool ReadRow(size_t rowIndex, RowRange& range);
  void DrainAndCheck();
  uint64_t PlannedBytes();
  void LogDifference(uint32_t address, bool& headerLogged);
  OperationOutcome EndIdle(OperationOutcome outcome);
  OperationOutcome EndLines(bool cancelled, bool othersFine);

  OperationContext& context_;
  VerifySettings settings_;
  uint8_t fillByte_ = 0xFF;
  bool cancelled_ = false;
  uint64_t progressDone_ = 0;
  uint64_t progressTotal_ = 0;
  std::chrono::steady_clock::time_point lastDrain_{};
};

}  // namespace quarnel
