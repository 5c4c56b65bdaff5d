#include "cli/SerialNumbers.h"

#include <algorithm>

#include "cli/RunReport.h"

namespace quarnel::cli {

std::optional<SerialNumbers::Refusal> SerialNumbers::Assign(const std::vector<uint32_t>& targets, uint32_t total,
                                                           const std::string& station) {
  std::vector<uint64_t> numbers;
  if (option_.sequence.empty()) {
    const std::optional<std::vector<uint64_t>> fixed = option_.FixedNumbers(total);
    if (!fixed)
      return Refusal{kBadInput, "the serial numbers from " + std::to_string(option_.first) + " for " +
                                    std::to_string(total) + " targets do not fit in " + std::to_string(option_.size) +
                                    " bytes; nothing was written"};
    for (uint32_t target : targets) numbers.push_back((*fixed)[target - 1]);
  } else {
    const records::StoreResult allocated =
        store_->Allocate(option_.sequence, static_cast<uint32_t>(targets.size()), station, &numbers);
    if (!allocated.Ok()) return Refusal{kNotPlugged, "no serial numbers: " + allocated.error + "; nothing was written"};
    unsettled_ = numbers;
    const auto tooLarge = std::find_if(numbers.begin(), numbers.end(),
                                       [this](uint64_t number) { return SerialBytes(number, option_.size).empty(); });
    if (tooLarge != numbers.end()) {
      const uint64_t number = *tooLarge;
      SpoilUnsettled();
      return Refusal{kBadInput, "the serial number " + std::to_string(number) + " of the sequence " + option_.sequence +
                                    " does not fit in " + std::to_string(option_.size) + " bytes; nothing was written"};
    }
  }
  for (size_t k = 0; k < targets.size(); ++k) numbers_[targets[k]] = numbers[k];
  return std::nullopt;
}

std::optional<uint64_t> SerialNumbers::NumberOf(uint32_t target) const {
  const auto found = numbers_.find(target);
  if (found == numbers_.end()) return std::nullopt;
  return found->second;
}

std::vector<uint8_t> SerialNumbers::BytesOf(uint32_t target) const {
  const std::optional<uint64_t> number = NumberOf(target);
  return number ? SerialBytes(*number, option_.size) : std::vector<uint8_t>{};
}

void SerialNumbers::PlaceInto(uint32_t target, std::span<uint8_t> image) const {
  const std::vector<uint8_t> bytes = BytesOf(target);
  for (size_t k = 0; k < bytes.size(); ++k) {
    const uint64_t address = uint64_t{option_.address} + k;
    if (address < image.size()) image[address] = bytes[k];
  }
}

void SerialNumbers::Settle(uint32_t target, bool passed) {
  const std::optional<uint64_t> number = NumberOf(target);
  if (!number || option_.sequence.empty()) return;
  std::erase(unsettled_, *number);
  Note(passed ? store_->MarkUsed(option_.sequence, *number) : store_->MarkSpoiled(option_.sequence, *number));
}

void SerialNumbers::SpoilUnsettled() {
  for (uint64_t number : unsettled_) Note(store_->MarkSpoiled(option_.sequence, number));
  unsettled_.clear();
}

void SerialNumbers::Note(const records::StoreResult& result) {
  if (!result.Ok() && storeError_.empty()) storeError_ = result.error;
}

}  // namespace quarnel::cli
