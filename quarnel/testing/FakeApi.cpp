#include "testing/FakeApi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "testing/RecordText.h"

namespace quarnel::testing {

FakeApi::FakeApi(const TargetGeometry* geometry, size_t targets, size_t memorySize)
    : geometry_(geometry), memorySize_(memorySize) {
  SetTargetCount(targets);
}

void FakeApi::SetTargetCount(size_t count) {
  statuses.resize(count, 0);
  enabled.resize(count, true);
  memory.resize(geometry_ != nullptr ? count : 0, std::vector<uint8_t>(memorySize_, 0xFF));
}

CTargetInfo& FakeApi::AddDescription(const char* name, std::initializer_list<CTargetArea> areas, uint32_t blockSize) {
  CTargetInfo& d = descriptions.emplace_back();
  std::memset(&d, 0, sizeof d);
  std::strncpy(d.targetName, name, sizeof d.targetName - 1);
  for (const CTargetArea& a : areas) d.area[d.areaNum++] = a;
  d.blockSize = blockSize;
  d.targetId32 = 0x00010100;
  return d;
}

TRGINFO* FakeApi::ReadTargetDescriptions(uint8_t, uint16_t* filesFound) {
  *filesFound = static_cast<uint16_t>(descriptions.size() + static_cast<size_t>(filesFoundExtra));
  if (!returnSet) return nullptr;
  set_.count = static_cast<int32_t>(descriptions.size());
  set_.array = descriptions.data();
  return &set_;
}

bool FakeApi::PlugAll(TRGINFO*, const char* targetName) {
  pluggedNames.emplace_back(targetName);
  statuses[0] = plugStatus;
  if (!plugStatuses.empty()) {
    statuses[0] = plugStatuses.front();
    plugStatuses.pop_front();
  }
  return Ok();
}

bool FakeApi::CheckTargetName(TRGINFO*, const char* targetName) {
  pluggedNames.emplace_back(targetName);
  statuses[0] = checkTargetStatus;
  return Ok();
}

int FakeApi::TargetCheckDescription(uint32_t n, TRGINFO*, const char* targetName) {
  if (n < 2 || !Has(n)) return 0;
  int& status = statuses[n - 1];
  if (status != 0) return 1;
  if (otherChips.count(n) != 0) {
    status = 0x2002;
    return 1;
  }
  described[n] = targetName;
  if (oldFirmware.count(n) != 0) status = 0x2004;
  return 1;
}

bool FakeApi::IsProtected(uint16_t* flag) {
  *flag = isProtected ? 1 : 0;
  if (protectedStatus != 0) statuses[0] = protectedStatus;
  return Ok();
}

int FakeApi::TargetIsProtected(uint32_t n, uint16_t* flag) {
  protectionAsked.push_back(n);
  *flag = n == 1 && isProtected ? 1 : 0;
  return 1;
}

bool FakeApi::SendSecurityId(uint8_t wordCount, uint16_t* words, uint16_t* flag) {
  sentIds.emplace_back(words, words + wordCount);
  if (sentIds.back() == unlockingId) isProtected = false;
  *flag = isProtected ? 1 : 0;
  return Ok();
}

bool FakeApi::ChipErase() {
  ++chipErases;
  statuses[0] = chipEraseStatus;
  if (!Ok()) return false;
  isProtected = false;
  for (size_t n = 0; n < memory.size(); ++n)
    if (enabled[n]) std::fill(memory[n].begin(), memory[n].end(), 0xFF);
  return true;
}

bool FakeApi::ResetAll() {
  ++resets;
  std::fill(statuses.begin(), statuses.end(), 0);
  statuses[0] = resetStatus;
  return Ok();
}

bool FakeApi::ProductId(uint32_t idBitNum, uint32_t* id) {
  productIdBits = idBitNum;
  id[0] = productIdWord;
  return Ok();
}

bool FakeApi::FirmwareVersionText(char* buffer, uint32_t bufferSize, uint32_t* needed) {
  *needed = static_cast<uint32_t>(firmwareText.size() + 1);
  if (*needed <= bufferSize) std::memcpy(buffer, firmwareText.c_str(), *needed);
  return Ok();
}

std::string FakeApi::DevicePath(uint32_t n) { return Hex("/sim/korvo-%02u", n - 1); }

bool FakeApi::FailsNow(const std::string& kind, uint32_t n) {
  auto it = failures_.find(kind);
  if (it == failures_.end() || it->second.target != n || --it->second.nth != 0) return false;
  statuses[n - 1] = it->second.status;
  return true;
}

template <typename Change>
bool FakeApi::Apply(const std::string& kind, Change change) {
  if (enabled[0]) statuses[0] = 0;
  if (auto it = failures_.find(kind); it != failures_.end() && TargetEnabled(it->second.target))
    FailsNow(kind, it->second.target);
  for (size_t n = 0; n < memory.size(); ++n)
    if (statuses[n] == 0 && enabled[n]) change(memory[n]);
  return Ok();
}

bool FakeApi::EraseBlock(uint32_t address) {
  calls.push_back(Hex("Erase %05X", address));
  if (geometry_ == nullptr) return Ok();
  if (!geometry_->IsFlash(address)) return statuses[0] = 0x4003, false;
  const uint32_t start = address / geometry_->eraseBlockSize * geometry_->eraseBlockSize;
  return Apply("Erase", [&](std::vector<uint8_t>& m) {
    std::fill(m.begin() + start, m.begin() + start + geometry_->eraseBlockSize, 0xFF);
  });
}

bool FakeApi::Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) {
  calls.push_back(Hex("Write %05X-%05X", start, end));
  if (geometry_ == nullptr) return Ok();
  if (!geometry_->IsFlash(flashAddress) || flashAddress != start) return statuses[0] = 0x4002, false;
  return Apply("Write", [&](std::vector<uint8_t>& m) { std::copy(image + start, image + end + 1, m.begin() + start); });
}

// The bytes of the erase block that lie in flash; the last code block's
// reserved tail is read with it.
int FakeApi::ReadTargetBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) {
  calls.push_back(Hex("ReadBlock %u %05X", n, address));
  *got = 0;
  if (geometry_ == nullptr || statuses.at(n - 1) != 0 || FailsNow("ReadBlock", n)) return 1;
  const TargetGeometry& g = *geometry_;
  const uint64_t codeEnd = uint64_t{g.codeBlockCount} * g.eraseBlockSize;
  const uint32_t start = address / g.eraseBlockSize * g.eraseBlockSize;
  const uint32_t end = start + g.eraseBlockSize - 1;
  for (const FlashArea& area : g.areas) {
    uint32_t areaEnd = area.end;
    if (uint64_t{area.end} + 1 + g.contentTailSize == codeEnd && area.end >= start && area.end <= end)
      areaEnd += g.contentTailSize;
    for (uint32_t a = std::max(area.start, start); a <= std::min(areaEnd, end); ++a) buffer[(*got)++] = memory[n - 1][a];
  }
  return 1;
}

}  // namespace quarnel::testing
