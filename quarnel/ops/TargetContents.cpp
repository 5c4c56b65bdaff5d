#include "ops/TargetContents.h"

#include <algorithm>

namespace quarnel {

uint64_t FlashBlockReader::BlocksToRead(uint32_t first, uint32_t last) const {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const uint64_t size = geometry.eraseBlockSize;
  if (size == 0 || first > last) return 0;
  uint64_t blocks = 0;
  for (uint64_t start = first / size * size; start <= last; start += size)
    if (geometry.AnyAreaIntersects(static_cast<uint32_t>(start), static_cast<uint32_t>(start + size - 1))) ++blocks;
  return blocks;
}

void FlashBlockReader::Expect(uint64_t blocks) {
  total_ = blocks;
  done_ = 0;
  if (!phase_.empty()) context_.window.ShowProgress(phase_, 0, total_);
}

ReadOutcome FlashBlockReader::Read(uint32_t n, uint32_t first, uint32_t last, std::span<uint8_t> image) {
  const TargetGeometry& geometry = context_.buffers.Geometry();
  const uint64_t size = geometry.eraseBlockSize;
  if (size == 0 || first > last) return ReadOutcome::Read;
  std::vector<uint8_t> bytes(size);
  for (uint64_t start = first / size * size; start <= last; start += size) {
    const auto blockStart = static_cast<uint32_t>(start);
    if (!geometry.AnyAreaIntersects(blockStart, static_cast<uint32_t>(start + size - 1))) continue;
    context_.window.DrainEvents();
    if (context_.window.CancelRequested()) return ReadOutcome::Cancelled;
    std::fill(bytes.begin(), bytes.end(), 0xFF);
    uint32_t got = 0;
    if (context_.api.ReadTargetBlock(n, blockStart, &got, bytes.data()) != 1 || context_.api.TargetStatus(n) != 0)
      return ReadOutcome::Failed;
    context_.buffers.Spreader().SpreadBlock(blockStart, std::span(bytes).first(std::min<size_t>(got, bytes.size())),
                                            image);
    ++done_;
    if (!phase_.empty()) context_.window.ShowProgress(phase_, done_, total_);
  }
  return ReadOutcome::Read;
}

TargetContents::TargetContents(OperationContext& context) : context_(context) {
  stored_.assign(context_.buffers.WriteImage().size(), 0);
}

ReadOutcome TargetContents::ReadKept(AddressRange kept, const std::string& phase) {
  std::span<uint8_t> image = context_.buffers.WriteImage();
  targets_.clear();
  differing_.clear();
  stored_.assign(image.size(), 0);
  scratch_.assign(image.size(), 0xFF);
  if (image.empty() || kept.Empty() || kept.first >= image.size()) {
    kept_ = {};
    return ReadOutcome::Read;
  }
  kept_ = {kept.first, std::min<uint32_t>(kept.last, static_cast<uint32_t>(image.size() - 1))};

  ApiCalls& api = context_.api;
  std::vector<uint32_t> taking{1};
  for (uint32_t n = 2; n <= api.TargetCount(); ++n)
    if (api.TargetPlugged(n) && api.TargetEnabled(n) && api.TargetStatus(n) == 0) taking.push_back(n);
  FlashBlockReader reader(context_, phase);
  reader.Expect(reader.BlocksToRead(kept_.first, kept_.last) * taking.size());
  const auto from = scratch_.begin() + kept_.first;
  const auto to = scratch_.begin() + kept_.last + 1;
  for (uint32_t n : taking) {
    std::fill(from, to, 0xFF);
    const ReadOutcome outcome = reader.Read(n, kept_.first, kept_.last, scratch_);
    if (outcome == ReadOutcome::Cancelled) return outcome;
    if (outcome == ReadOutcome::Failed) {
      if (n == 1) return outcome;
      continue;
    }
    targets_.push_back({n, std::vector<uint8_t>(from, to)});
    if (n == 1) std::copy(from, to, image.begin() + kept_.first);
  }
  return ReadOutcome::Read;
}

bool TargetContents::KeptBytesDiffer(uint32_t first, uint32_t last) {
  if (targets_.size() < 2 || kept_.Empty()) return false;
  const uint32_t lo = std::max(first, kept_.first);
  const uint32_t hi = std::min(last, kept_.last);
  if (lo > hi) return false;
  if (differing_.empty()) {
    const size_t count = size_t{kept_.last} - kept_.first + 1;
    differing_.assign(count + 1, 0);
    const std::vector<uint8_t>& reference = targets_.front().bytes;
    for (size_t i = 0; i < count; ++i) {
      const bool differs = stored_[kept_.first + i] == 0 &&
                           std::any_of(targets_.begin() + 1, targets_.end(),
                                       [&](const Kept& other) { return other.bytes[i] != reference[i]; });
      differing_[i + 1] = differing_[i] + (differs ? 1 : 0);
    }
  }
  return differing_[hi - kept_.first + 1] != differing_[lo - kept_.first];
}

void TargetContents::ComposeImage(const Kept& kept, uint32_t first, uint32_t last) {
  std::span<uint8_t> image = context_.buffers.WriteImage();
  std::copy(image.begin() + first, image.begin() + last + 1, scratch_.begin() + first);
  const uint32_t lo = std::max(first, kept_.first);
  const uint32_t hi = std::min(last, kept_.last);
  for (uint64_t a = lo; a <= hi; ++a)
    if (stored_[a] == 0) scratch_[a] = kept.bytes[a - kept_.first];
}

bool TargetContents::WriteEachTarget(uint32_t first, uint32_t last) {
  ApiCalls& api = context_.api;
  std::vector<const Kept*> taking;
  for (const Kept& kept : targets_)
    if (api.TargetStatus(kept.target) == 0) taking.push_back(&kept);
  bool target1Written = true;
  for (const Kept* kept : taking) {
    ComposeImage(*kept, first, last);
    for (const Kept* other : taking) api.SetTargetEnabled(other->target, other == kept);
    const bool written = api.Write(first, last, first, scratch_.data());
    if (kept->target == 1 && !written) {
      target1Written = false;
      break;
    }
  }
  for (const Kept* kept : taking) api.SetTargetEnabled(kept->target, true);
  return target1Written;
}

bool TargetContents::Write(uint32_t first, uint32_t last) {
  std::span<uint8_t> image = context_.buffers.WriteImage();
  if (first > last || last >= image.size() || !KeptBytesDiffer(first, last))
    return context_.api.Write(first, last, first, image.data());
  return WriteEachTarget(first, last);
}

}  // namespace quarnel
