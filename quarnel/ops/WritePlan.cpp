#include "ops/WritePlan.h"

#include <algorithm>
#include <optional>

#include "image/FlashBuffers.h"

namespace quarnel {
namespace {

bool Overlaps(const WriteRange& range, uint32_t first, uint32_t last) {
  return range.start <= last && first <= range.end;
}

class StepPlanner {
 public:
  StepPlanner(const std::vector<WriteRange>& ranges, const TargetGeometry& geometry, const WritePlanOptions& options)
      : ranges_(ranges), geometry_(geometry), options_(options) {
    for (const WriteRange& r : ranges_)
      if (r.kind == WriteRange::kAdditionalData) lastAdditional_ = &r;
  }

  bool BlockIsWritten(const EraseBlock& block) const {
    if (!block.available || ranges_.empty()) return false;
    if (options_.notFill)
      return std::any_of(ranges_.begin(), ranges_.end(),
                         [&](const WriteRange& r) { return Overlaps(r, block.start, block.end); });
    uint32_t lowest = ranges_.front().start;
    uint32_t highest = ranges_.front().end;
    for (const WriteRange& r : ranges_) {
      lowest = std::min(lowest, r.start);
      highest = std::max(highest, r.end);
    }
    const uint32_t blockIndex = block.start / geometry_.eraseBlockSize;
    return lowest / geometry_.eraseBlockSize <= blockIndex && blockIndex <= highest / geometry_.eraseBlockSize;
  }

  WriteStep Plan(size_t blockIndex, const EraseBlock& block) const {
    WriteStep step;
    step.block = blockIndex;
    const bool lastCode = blockIndex + 1 == geometry_.codeBlockCount;
    const AddressRange preserved = PreservedArea(geometry_);
    const bool preservedTouched =
        lastCode && std::any_of(ranges_.begin(), ranges_.end(),
                                [&](const WriteRange& r) { return preserved.Overlaps(r.start, r.end); });
    step.erase = options_.eraseBeforeWrite || preservedTouched;
    step.eraseAddress = FirstFlashAddressInBlock(geometry_, block.start, block.end);
    if (options_.notFill)
      PlanFilesOnly(step, block, lastCode, preservedTouched);
    else
      PlanInFull(step, block, lastCode, preservedTouched);
    return step;
  }

 private:
  // An area that ends T bytes below the end of the last code block: its
  // window runs on through the reserved tail when the block was erased.
  bool EndsAtTail(const FlashArea& area, const EraseBlock& block, bool lastCode) const {
    return lastCode && area.end == block.end - geometry_.reservedTailSize;
  }

  void Add(WriteStep& step, uint32_t first, uint32_t last, uint32_t recordLast) const {
    step.windows.push_back({first, last});
    step.records.push_back({first, recordLast, static_cast<int32_t>(step.block)});
  }

  void PlanFilesOnly(WriteStep& step, const EraseBlock& block, bool lastCode, bool preservedTouched) const {
    for (const WriteRange& range : ranges_) {
      if (!Overlaps(range, block.start, block.end)) continue;
      std::optional<WrittenRange> lastRecord;
      for (const FlashArea& area : geometry_.areas) {
        if (area.start > block.end || area.end < block.start) continue;
        const uint32_t lo = std::max(area.start, block.start);
        uint32_t hi = std::min(area.end, block.end);
        if (preservedTouched && EndsAtTail(area, block, lastCode)) hi = area.end - geometry_.preservedSize;
        const uint32_t first = std::max(lo, range.start);
        const uint32_t last = std::min(hi, range.end);
        if (first > last) continue;
        step.windows.push_back({first, last});
        lastRecord = WrittenRange{first, last, static_cast<int32_t>(step.block)};
      }
      if (lastRecord) step.records.push_back(*lastRecord);
    }
    if (!(preservedTouched || (lastCode && options_.eraseBeforeWrite))) return;
    // The erased block gets its preserved area and its reserved tail back.
    const AddressRange kept = KeptTopOfCode(geometry_);
    if (kept.Empty()) return;
    step.windows.push_back(kept);
    const AddressRange preserved = PreservedArea(geometry_);
    if (!preserved.Empty())
      step.records.push_back({preserved.first, preserved.last, static_cast<int32_t>(step.block)});
  }

  void PlanInFull(WriteStep& step, const EraseBlock& block, bool lastCode, bool preservedTouched) const {
    const bool erased = options_.eraseBeforeWrite || preservedTouched;
    for (const FlashArea& area : geometry_.areas) {
      if (area.start > block.end || area.end < block.start) continue;
      uint32_t lo = std::max(area.start, block.start);
      uint32_t hi = std::min(area.end, block.end);
      const bool endsAtTail = EndsAtTail(area, block, lastCode);
      if (lastAdditional_ && block.start == lastAdditional_->start) {
        lo = lastAdditional_->start;
        hi = endsAtTail && erased ? area.end : lastAdditional_->end;
      } else if (endsAtTail && !erased) {
        hi = area.end - geometry_.preservedSize;
      }
      if (lo > hi) continue;
      Add(step, lo, endsAtTail && erased ? block.end : hi, hi);
    }
  }

  const std::vector<WriteRange>& ranges_;
  const TargetGeometry& geometry_;
  const WritePlanOptions& options_;
  const WriteRange* lastAdditional_ = nullptr;
};

}  // namespace

std::vector<WriteStep> PlanWriteSteps(const std::vector<WriteRange>& ranges, const TargetGeometry& geometry,
                                      const EraseBlockTable& blocks, const WritePlanOptions& options) {
  std::vector<WriteStep> steps;
  if (geometry.eraseBlockSize == 0) return steps;
  const StepPlanner planner(ranges, geometry, options);
  const size_t blockCount = std::min<size_t>(blocks.size(), size_t{geometry.flashHigh / geometry.eraseBlockSize} + 1);
  for (size_t i = 0; i < blockCount; ++i)
    if (planner.BlockIsWritten(blocks[i])) steps.push_back(planner.Plan(i, blocks[i]));
  return steps;
}

bool PlanWrites(const std::vector<WriteStep>& steps, uint32_t first, uint32_t last) {
  std::vector<AddressRange> windows;
  for (const WriteStep& step : steps) windows.insert(windows.end(), step.windows.begin(), step.windows.end());
  std::sort(windows.begin(), windows.end(),
            [](const AddressRange& a, const AddressRange& b) { return a.first < b.first; });
  uint64_t next = first;
  for (const AddressRange& w : windows) {
    if (w.first > next) break;
    next = std::max<uint64_t>(next, uint64_t{w.last} + 1);
    if (next > last) return true;
  }
  return next > last;
}

}  // namespace quarnel
