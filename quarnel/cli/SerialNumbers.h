#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "records/RecordStore.h"

namespace quarnel::cli {

// The serial numbers of one run's targets (numbered from 1 in the run):
// fixed ones follow the target through every attempt; numbers of a
// sequence are taken anew for every attempt, and each one ends used or
// spoiled in the record store.
class SerialNumbers {
 public:
  // `store` is needed for a sequence and must outlive this object.
  SerialNumbers(const SerialOption& option, records::RecordStore* store) : option_(option), store_(store) {}

  struct Refusal {
    int exitCode;
    std::string message;
  };
  // Numbers for `targets` out of a run of `total` targets; the refusal when
  // they cannot be had or do not fit (nothing is written then).
  std::optional<Refusal> Assign(const std::vector<uint32_t>& targets, uint32_t total, const std::string& station);
  // The target's number and its bytes, once assigned.
  std::optional<uint64_t> NumberOf(uint32_t target) const;
  std::vector<uint8_t> BytesOf(uint32_t target) const;
  // Puts the target's number into `image` (indexed by address) at its place.
  void PlaceInto(uint32_t target, std::span<uint8_t> image) const;
  // The board took its number: used when it passed, else spoiled.
  void Settle(uint32_t target, bool passed);
  // Numbers of the last assignment that no board took are spoiled.
  void SpoilUnsettled();
  // The first failure of the record store, if any.
  const std::string& StoreError() const { return storeError_; }

 private:
  void Note(const records::StoreResult& result);

  const SerialOption& option_;
  records::RecordStore* store_;
  std::map<uint32_t, uint64_t> numbers_;  // by target
  std::vector<uint64_t> unsettled_;       // sequence numbers not yet used or spoiled
  std::string storeError_;
};

}  // namespace quarnel::cli
