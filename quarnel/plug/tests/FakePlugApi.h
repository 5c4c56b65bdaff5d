// Fakes for the plug logic's tests: a library whose target 1 follows a
// script, and settings kept in memory.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "base/MemorySettingsStore.h"

namespace quarnel::testing {

class FakeApi : public ApiCalls {
 public:
  // Script.
  int connectResult = 1;
  std::deque<int> plugStatuses;  // one per PlugAll; 0 when exhausted
  int checkTargetStatus = 0;
  bool isProtected = false;
  int protectedStatus = 0;  // the status IsProtected leaves behind
  std::vector<uint16_t> unlockingId;
  uint16_t securityType = 0;
  int chipEraseStatus = 0;
  int resetStatus = 0;
  uint32_t productIdWord = 0;
  std::string firmwareText = "9.99";
  std::string noEmulatorReason;

  // Record.
  int status = 0;
  std::vector<std::string> pluggedNames;
  std::vector<std::vector<uint16_t>> sentIds;
  int chipErases = 0;
  int resets = 0;
  uint32_t productIdBits = 0;

  int Connect() override { return connectResult; }
  std::string NoEmulatorReason() override { return noEmulatorReason; }
  int Status() override { return status; }
  TRGINFO* ReadTargetDescriptions(uint8_t, uint16_t*) override { return nullptr; }
  bool Disconnect() override { return Ok(); }
  bool PlugAll(TRGINFO*, const char* targetName) override {
    pluggedNames.emplace_back(targetName);
    if (!plugStatuses.empty()) {
      status = plugStatuses.front();
      plugStatuses.pop_front();
    }
    return Ok();
  }
  bool IsProtected(uint16_t* flag) override {
    *flag = isProtected ? 1 : 0;
    if (protectedStatus != 0) status = protectedStatus;
    return Ok();
  }
  bool ChipErase() override {
    ++chipErases;
    status = chipEraseStatus;
    if (status == 0) isProtected = false;
    return Ok();
  }
  bool EraseBlock(uint32_t) override { return Ok(); }
  bool Write(uint32_t, uint32_t, uint32_t, uint8_t*) override { return Ok(); }
  bool ResetAll() override {
    ++resets;
    status = resetStatus;
    return Ok();
  }
  bool GetStatus(int* value) override {
    *value = status;
    return Ok();
  }
  bool SetStatus(int value) override {
    status = value;
    return Ok();
  }
  bool ReleaseDescriptions(TRGINFO**) override { return Ok(); }
  // Like the library: a wrong ID leaves 0x2005, which the guarded call clears.
  bool SendSecurityId(uint8_t wordCount, uint16_t* words, uint16_t* flag) override {
    sentIds.emplace_back(words, words + wordCount);
    if (sentIds.back() == unlockingId) isProtected = false;
    *flag = isProtected ? 1 : 0;
    return Ok();
  }
  bool SecurityType(uint16_t* type) override {
    *type = securityType;
    return Ok();
  }
  bool CheckTargetName(TRGINFO*, const char* targetName) override {
    pluggedNames.emplace_back(targetName);
    status = checkTargetStatus;
    return Ok();
  }
  bool ProductId(uint32_t idBitNum, uint32_t* id) override {
    productIdBits = idBitNum;
    id[0] = productIdWord;
    return Ok();
  }
  bool FirmwareVersionText(char* buffer, uint32_t size, uint32_t* needed) override {
    *needed = static_cast<uint32_t>(firmwareText.size() + 1);
    if (*needed <= size) firmwareText.copy(buffer, firmwareText.size());
    return Ok();
  }
  int ConnectAll() override { return connectResult; }
  uint32_t targetCount = 1;
  uint32_t TargetCount() override { return targetCount; }
  // Targets after the first: their statuses, the targets whose chip
  // matches no description or whose firmware is too old for any, and the
  // description each took by a check.
  std::map<uint32_t, int> furtherStatuses;
  std::set<uint32_t> otherChips;
  std::set<uint32_t> oldFirmware;
  std::map<uint32_t, std::string> described;
  int TargetStatus(uint32_t n) override { return n == 1 ? status : furtherStatuses[n]; }
  int SetTargetStatus(uint32_t n, int value) override {
    (n == 1 ? status : furtherStatuses[n]) = value;
    return 1;
  }
  // Like the library: a target that has a status is passed over.
  int TargetCheckDescription(uint32_t n, TRGINFO*, const char* targetName) override {
    if (n < 2 || n > targetCount) return 0;
    int& further = furtherStatuses[n];
    if (further != 0) return 1;
    if (otherChips.count(n) != 0) {
      further = 0x2002;
      return 1;
    }
    described[n] = targetName;
    if (oldFirmware.count(n) != 0) further = 0x2004;
    return 1;
  }
  // Further targets, as target 1: unprotected.
  std::vector<uint32_t> protectionAsked;
  int TargetIsProtected(uint32_t n, uint16_t* isProtected) override {
    protectionAsked.push_back(n);
    *isProtected = 0;
    return 1;
  }
  int TargetSendSecurityId(uint32_t, uint8_t, uint16_t*, uint16_t* isProtected) override {
    *isProtected = 0;
    return 1;
  }
  std::string DevicePath(uint32_t) override { return {}; }
  std::string FirmwareVersion(uint32_t) override { return firmwareText; }
  int ReadTargetBlock(uint32_t, uint32_t, uint32_t* got, uint8_t*) override { return *got = 0, 1; }
  bool TargetPlugged(uint32_t) override { return true; }
  bool TargetEnabled(uint32_t) override { return true; }
  int SetTargetEnabled(uint32_t, bool) override { return 1; }
  int SetSerialNumber(uint32_t, uint8_t*, uint32_t) override { return 1; }
  int WriteWithSerialNumber(uint32_t, uint32_t, uint32_t, uint8_t*, uint32_t) override { return 1; }

 private:
  bool Ok() const { return status == 0; }
};

// Counts what is stored, so tests can tell that nothing was.
class MemorySettings : public MemorySettingsStore {
 public:
  int writes = 0;

  bool WriteText(const std::string& key, const std::string& value) override {
    ++writes;
    return MemorySettingsStore::WriteText(key, value);
  }
};

}  // namespace quarnel::testing
