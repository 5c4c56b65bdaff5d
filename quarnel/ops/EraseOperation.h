#pragma once

#include <cstdint>
#include <vector>

#include "target/EraseBlocks.h"
#include "ops/OperationContext.h"
#include "ops/TargetContents.h"
#include "ops/WriteOperation.h"

namespace quarnel {

// The erase block list's check boxes, one per table entry. After a tick
// changed, every box is read back: a ticked available block becomes
// selected, a ticked unavailable one is unticked again, an unticked one is
// unselected. Returns whether Erase is enabled (some block is selected).
bool ApplyEraseTicks(EraseBlockTable& table, std::vector<bool>& ticks);
// Select All: when some available block is not selected, every available
// block becomes selected; otherwise every available block is cleared. The
// ticks follow the selection. Returns whether Erase is enabled.
bool SelectAllEraseBlocks(EraseBlockTable& table, std::vector<bool>& ticks);

// Erase: erases the selected blocks one by one on every plugged target,
// giving each target its own preserved area and reserved tail back when
// the last code block is erased.
class EraseOperation {
 public:
  explicit EraseOperation(OperationContext& context) : context_(context) {}

  OperationOutcome Run();

 private:
  // Read when the block was erased (and what it keeps written back).
  ReadOutcome EraseOne(size_t blockIndex);
  void FailRun(int textId);

  OperationContext& context_;
};

}  // namespace quarnel
