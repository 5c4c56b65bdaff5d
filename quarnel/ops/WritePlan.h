#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/CodeTop.h"
#include "target/EraseBlocks.h"

namespace quarnel {

// One planned write range.
struct WriteRange {
  std::string name;
  uint32_t start = 0;
  uint32_t end = 0;
  int32_t kind = 0;  // kFileData or kAdditionalData
  static constexpr int32_t kFileData = 0;
  static constexpr int32_t kAdditionalData = 1;
};

// One write call as the summary's flash map shows it.
struct WrittenRange {
  uint32_t start = 0;
  uint32_t end = 0;
  int32_t block = 0;
};

// What Write & Check does to one erase block: erase it (at eraseAddress)
// or not, then write each window of the write image. `records` are what the
// summary lists for the block; they leave out the reserved tail, which the
// windows of an erased last code block carry along.
struct WriteStep {
  size_t block = 0;
  bool erase = false;
  uint32_t eraseAddress = 0;
  std::vector<AddressRange> windows;
  std::vector<WrittenRange> records;
};

struct WritePlanOptions {
  bool eraseBeforeWrite = true;
  bool notFill = false;
};

// The erase and write steps of Write & Check for ranges sorted by start, in
// block order. Blocks that are not available, or that the rules leave out,
// get no step.
std::vector<WriteStep> PlanWriteSteps(const std::vector<WriteRange>& ranges, const TargetGeometry& geometry,
                                      const EraseBlockTable& blocks, const WritePlanOptions& options);

// Whether every address of [first, last] lies in a window of the plan.
bool PlanWrites(const std::vector<WriteStep>& steps, uint32_t first, uint32_t last);

}  // namespace quarnel
