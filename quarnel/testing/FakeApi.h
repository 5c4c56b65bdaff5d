#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "target/TargetGeometry.h"

namespace quarnel::testing {

// The call layer for QUARNEL's tests and benchmarks. Every target has its own
// status and, when the fake is made with a geometry, its own flash in memory;
// what the emulators answer is scripted below and the calls are recorded.
// The guarded calls succeed exactly when target 1 has no status afterwards,
// as in the program's call layer.
class FakeApi : public ApiCalls {
 public:
  // One target without flash: erasing and writing only answer with the status.
  FakeApi() : FakeApi(nullptr, 1, 0) {}
  // `targets` targets with `memorySize` bytes of erased flash each, laid out
  // by `geometry`, which must outlive the fake.
  FakeApi(const TargetGeometry& geometry, size_t targets, size_t memorySize)
      : FakeApi(&geometry, targets, memorySize) {}

  // New targets start without a status, enabled, with erased flash.
  void SetTargetCount(size_t count);
  // The nth call (from 1) of `kind` ("ReadBlock", "Erase", "Write") fails on
  // `target` with `status`; a failed target takes no further part.
  void FailOn(const std::string& kind, int nth, uint32_t target, int status) { failures_[kind] = {nth, target, status}; }
  // Appends to the description set; one code block of 2 KiB.
  CTargetInfo& AddDescription(const char* name, std::initializer_list<CTargetArea> areas, uint32_t blockSize);

  // Script: connecting and the description set. No connection leaves no
  // target to count.
  int connectResult = 1;
  std::string noEmulatorReason;
  std::vector<CTargetInfo> descriptions;
  bool returnSet = true;    // false: the set cannot be read
  int filesFoundExtra = 0;  // files found beyond the set's count
  // The status each PlugAll leaves on target 1, in turn; plugStatus after.
  std::deque<int> plugStatuses;
  int plugStatus = 0;
  int checkTargetStatus = 0;  // what CheckTargetName leaves on target 1
  // Targets after the first whose chip matches no description, or whose
  // firmware is too old for any.
  std::set<uint32_t> otherChips;
  std::set<uint32_t> oldFirmware;
  // Target 1's chip; the others are unprotected.
  bool isProtected = false;
  int protectedStatus = 0;  // the status IsProtected leaves behind
  std::vector<uint16_t> unlockingId;
  uint16_t securityType = 0;
  int chipEraseStatus = 0;
  int resetStatus = 0;  // left on target 1 by ResetAll, which clears the others
  uint32_t productIdWord = 0;
  std::string firmwareText = "9.99";

  // State, per target from target 1 on.
  std::vector<int> statuses;
  std::vector<bool> enabled;
  std::vector<std::vector<uint8_t>> memory;

  // Record.
  std::vector<std::string> calls;  // "ReadBlock n ADDR", "Erase ADDR", "Write FIRST-LAST"
  std::vector<std::string> pluggedNames;  // by PlugAll and CheckTargetName
  std::map<uint32_t, std::string> described;  // the description each further target took
  std::vector<std::vector<uint16_t>> sentIds;
  std::vector<uint32_t> protectionAsked;
  int chipErases = 0;
  int resets = 0;
  uint32_t productIdBits = 0;
  bool released = false;

  int Connect() override { return connectResult; }
  std::string NoEmulatorReason() override { return noEmulatorReason; }
  int Status() override { return statuses[0]; }
  TRGINFO* ReadTargetDescriptions(uint8_t maxIdBits, uint16_t* filesFound) override;
  bool Disconnect() override { return Ok(); }
  bool PlugAll(TRGINFO* set, const char* targetName) override;
  bool IsProtected(uint16_t* flag) override;
  bool ChipErase() override;
  bool EraseBlock(uint32_t address) override;
  bool Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) override;
  bool ResetAll() override;
  bool SetStatus(int status) override { return statuses[0] = status, Ok(); }
  bool ReleaseDescriptions(TRGINFO** set) override { return released = true, *set = nullptr, true; }
  // Like the library: a wrong ID leaves 0x2005, which the guarded call clears.
  bool SendSecurityId(uint8_t wordCount, uint16_t* words, uint16_t* flag) override;
  bool SecurityType(uint16_t* type) override { return *type = securityType, Ok(); }
  bool CheckTargetName(TRGINFO* set, const char* targetName) override;
  bool ProductId(uint32_t idBitNum, uint32_t* id) override;
  bool FirmwareVersionText(char* buffer, uint32_t bufferSize, uint32_t* needed) override;

  int ConnectAll() override { return connectResult; }
  uint32_t TargetCount() override { return connectResult != 0 ? static_cast<uint32_t>(statuses.size()) : 0; }
  int TargetStatus(uint32_t n) override { return Has(n) ? statuses[n - 1] : 0; }
  int SetTargetStatus(uint32_t n, int status) override { return Has(n) ? (statuses[n - 1] = status, 1) : 0; }
  int TargetIsProtected(uint32_t n, uint16_t* flag) override;
  int TargetSendSecurityId(uint32_t, uint8_t, uint16_t*, uint16_t* flag) override { return *flag = 0, 1; }
  std::string DevicePath(uint32_t n) override;
  std::string FirmwareVersion(uint32_t) override { return firmwareText; }
  int ReadTargetBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) override;
  bool TargetPlugged(uint32_t) override { return true; }
  bool TargetEnabled(uint32_t n) override { return Has(n) && enabled[n - 1]; }
  int SetTargetEnabled(uint32_t n, bool flag) override { return Has(n) ? (enabled[n - 1] = flag, 1) : 0; }
  int SetSerialNumber(uint32_t, uint8_t*, uint32_t) override { return 1; }
  int WriteWithSerialNumber(uint32_t, uint32_t, uint32_t, uint8_t*, uint32_t) override { return 1; }
  // Like the library: a target that has a status is passed over.
  int TargetCheckDescription(uint32_t n, TRGINFO* set, const char* targetName) override;

 private:
  struct Failure {
    int nth = 0;
    uint32_t target = 0;
    int status = 0;
  };

  FakeApi(const TargetGeometry* geometry, size_t targets, size_t memorySize);
  bool Ok() const { return statuses[0] == 0; }
  bool Has(uint32_t n) const { return n >= 1 && n <= statuses.size(); }
  // Counts a call of `kind`; true when it is the scripted failure on target n.
  bool FailsNow(const std::string& kind, uint32_t n);
  // Applies the change to every enabled target still without a status, as
  // the library's lock-step calls do; false when target 1 fails.
  template <typename Change>
  bool Apply(const std::string& kind, Change change);

  const TargetGeometry* geometry_;
  size_t memorySize_;
  TRGINFO set_{};
  std::map<std::string, Failure> failures_;
};

}  // namespace quarnel::testing
