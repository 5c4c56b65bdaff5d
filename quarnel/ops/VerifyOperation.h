#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ops/OperationContext.h"
#include "ops/TargetContents.h"
#include "ops/WriteOperation.h"

namespace quarnel {

// The window's settings that Verify reads when it starts.
struct VerifySettings {
  FillMode fillMode = FillMode::FlashContent;
  std::string arbitraryData;
  // Called with each target's number and its expected image once the files
  // are in it, before comparing; for bytes that differ per target by intent,
  // such as a serial number.
  std::function<void(uint32_t target, std::span<uint8_t> expected)> adjustExpected;
  // Compared on every target even where no row's flash range reaches (a
  // serial number), after the rows.
  std::optional<AddressRange> alsoCompared;
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
  // Differences found on each target (index 0 = target 1) in the last run.
  const std::vector<uint64_t>& DifferencesByTarget() const { return differencesByTarget_; }
  // The bytes of the listed rows compared on each target in the last run.
  uint64_t BytesCompared() const { return bytesCompared_; }
  // Why the last run stopped before comparing, as its box said; empty when
  // it did not, or when a question was answered no.
  const std::string& Refusal() const { return refusal_; }

 private:
  enum class Step { Done, Cancelled, Ended };

  bool TakeFillByte();
  ReadOutcome ReadEveryTarget(uint32_t targetCount, std::vector<bool>& read);
  // Target n's flash into the read-back image, and the expected bytes it keeps.
  void TakeReadBack(uint32_t target);
  void BuildExpectedFromReadBack();
  // Whether some row's flash range holds every address of `range`.
  bool RowsCover(const AddressRange& range);
  void LogCompared(long differences);
  Step LoadFiles();
  // LoadFiles for `target`, then its own expected bytes.
  Step LoadExpected(uint32_t target);
  Step CompareRows(bool withHeader);
  bool ReadRow(size_t rowIndex, RowRange& range);
  void DrainAndCheck();
  uint64_t PlannedBytes();
  uint64_t bytesCompared_ = 0;
  std::string refusal_;
  void LogDifference(uint32_t address, bool& headerLogged);
  OperationOutcome EndIdle(OperationOutcome outcome);
  OperationOutcome EndLines(bool cancelled, bool othersFine);

  OperationContext& context_;
  VerifySettings settings_;
  uint8_t fillByte_ = 0xFF;
  bool cancelled_ = false;
  uint32_t currentTarget_ = 1;
  std::vector<uint64_t> differencesByTarget_;
  std::vector<std::vector<uint8_t>> readBacks_;
  uint64_t progressDone_ = 0;
  uint64_t progressTotal_ = 0;
  std::chrono::steady_clock::time_point lastDrain_{};
};

}  // namespace quarnel
