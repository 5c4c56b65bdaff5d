#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ops/OperationContext.h"
#include "ops/CodeTop.h"

namespace quarnel {

enum class ReadOutcome { Read, Failed, Cancelled };

// The progress phase of reading the targets' flash.
inline constexpr const char* kReadingPhase = "Reading";

// Reads flash erase block by erase block into images indexed by address,
// showing progress over every block it will read (none for an empty phase)
// and letting the window react (and Cancel) between blocks.
class FlashBlockReader {
 public:
  FlashBlockReader(OperationContext& context, std::string phase) : context_(context), phase_(std::move(phase)) {}

  // The blocks of [first, last] that hold flash: what one Read of that range costs.
  uint64_t BlocksToRead(uint32_t first, uint32_t last) const;
  // Announces the blocks that the reads to come will take in all.
  void Expect(uint64_t blocks);
  // Reads the flash blocks of [first, last] of target n into `image`. Failed
  // when the library reports a failure (the target's status says why).
  ReadOutcome Read(uint32_t n, uint32_t first, uint32_t last, std::span<uint8_t> image);

 private:
  OperationContext& context_;
  std::string phase_;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
};

// The flash content that each target keeps through a write or an erase (its
// preserved area and reserved tail, or its whole flash when the write fills
// with the flash content), and the writes that give each target its own
// bytes: lock-step where all targets' bytes are equal, one target at a time
// where they differ.
class TargetContents {
 public:
  explicit TargetContents(OperationContext& context);

  // Reads [first, last] of every target that takes part now (plugged,
  // enabled, no status; target 1 always). Target 1's bytes also go into the
  // write image. Failed when target 1 could not be read; another target
  // that fails keeps its status and takes no further part.
  ReadOutcome ReadKept(AddressRange kept, const std::string& phase);

  // Image bytes that no target keeps (file data, additional data) are marked
  // here with 1; index = flash address. Complete before the first Write.
  std::span<uint8_t> StoredMask() { return stored_; }

  // Writes [first, last] of each target's own image: the write image, with
  // the target's kept bytes wherever the stored mask is 0. False when target 1
  // failed (its status says why); other targets' failures stay in their status.
  bool Write(uint32_t first, uint32_t last);

 private:
  struct Kept {
    uint32_t target = 0;
    std::vector<uint8_t> bytes;  // [kept_.first, kept_.last]
  };

  bool KeptBytesDiffer(uint32_t first, uint32_t last);
  void ComposeImage(const Kept& kept, uint32_t first, uint32_t last);
  bool WriteEachTarget(uint32_t first, uint32_t last);

  OperationContext& context_;
  AddressRange kept_;
  std::vector<Kept> targets_;
  std::vector<uint8_t> stored_;
  // differing_[a + 1 - kept_.first] counts the kept addresses up to a where
  // some target's byte differs from target 1's.
  std::vector<uint32_t> differing_;
  std::vector<uint8_t> scratch_;
};

}  // namespace quarnel
