#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/ApiCalls.h"
#include "vestra.h"

namespace quarnel {

// The library's entry points in the order they are bound. All are required,
// although the program calls only some of them.
#define QUARNEL_BOUND_EXPORTS(X)                                                                           \
  X(ApiCreateConnect) X(ApiCreateConnectOne) X(ApiDelConnect) X(ApiChipEraseAll) X(ApiFlashEraseBlockAll) \
  X(ApiFlashWriteAll) X(ApiFlashRead) X(ApiFlashReadBlock) X(ApiGetEnableFlg) X(ApiSetEnableFlg)          \
  X(ApiGetTargetStatus) X(ApiSetTargetStatus) X(ApiIsTargetPlugSuccess) X(ApiUpdateErrorTargetLED)        \
  X(ApiGetTargetNum) X(ApiGetDevicePathStr) X(ApiFlashWriteAllWithSN) X(ApiGetSerialNumber)               \
  X(ApiSetSerialNumber) X(ApiErrorTargetLED) X(ApiTargetReadProductID) X(ApiSysResetPlug) X(ApiSysReset)  \
  X(ApiCheckFirm) X(ApiCheckTargetName) X(ApiGetSecType) X(ApiGetTargetPlugStatus)                        \
  X(ApiSetTargetPlugStatus) X(ApiStartupTargetAll) X(ApiReadTargetInfoFile) X(ApiDeleteTargetInfoSet)     \
  X(ApiGetFirmVersionStr) X(ApiIsTargetProtected) X(ApiSetSecID) X(ApiSetSecIDEx) X(ApiSystemResetAll)    \
  X(ApiSystemResetAllSimple) X(ApiSystemReset) X(ReadHEX)

// The bound entry points, one pointer per export in binding order, then the
// optional ones. Plain data: copying it copies every pointer.
struct ApiTable {
#define QUARNEL_TABLE_ENTRY(name) decltype(&::name) name = nullptr;
  QUARNEL_BOUND_EXPORTS(QUARNEL_TABLE_ENTRY)
#undef QUARNEL_TABLE_ENTRY

  // Optional: null when the library does not export it.
  decltype(&::ApiGetConnectFailureText) ApiGetConnectFailureText = nullptr;
};

// Finds an exported name in the loaded library; null when it is missing.
using SymbolLookup = std::function<void*(const char* name)>;

// Looks the names up in binding order and stops at the first one that is
// missing: false, with that name in `missing`, and no further look-ups.
bool BindApiTable(const SymbolLookup& lookup, ApiTable& table, std::string* missing = nullptr);

// Looks up the optional entry points; a missing one stays null, and the
// program does without it.
void BindOptionalExports(const SymbolLookup& lookup, ApiTable& table);

// The guarded call layer over a bound table (see ApiCalls). The table must
// outlive this object.
class GuardedApiTable : public ApiCalls {
 public:
  explicit GuardedApiTable(const ApiTable& table) : api_(table) {}

  int Connect() override;
  int Status() override;
  TRGINFO* ReadTargetDescriptions(uint8_t maxIdBits, uint16_t* filesFound) override;
  bool Disconnect() override;
  bool PlugAll(TRGINFO* set, const char* targetName) override;
  bool IsProtected(uint16_t* isProtected) override;
  bool ChipErase() override;
  bool EraseBlock(uint32_t address) override;
  bool Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) override;
  bool ResetAll() override;
  bool SetStatus(int status) override;
  bool ReleaseDescriptions(TRGINFO** set) override;
  bool SendSecurityId(uint8_t wordCount, uint16_t* words, uint16_t* isProtected) override;
  bool SecurityType(uint16_t* type) override;
  bool CheckTargetName(TRGINFO* set, const char* targetName) override;
  bool ProductId(uint32_t idBitNum, uint32_t* id) override;
  bool FirmwareVersionText(char* buffer, uint32_t bufferSize, uint32_t* needed) override;

  int ConnectAll() override;
  uint32_t TargetCount() override;
  int TargetStatus(uint32_t n) override;
  int SetTargetStatus(uint32_t n, int status) override;
  int TargetIsProtected(uint32_t n, uint16_t* isProtected) override;
  int TargetSendSecurityId(uint32_t n, uint8_t wordCount, uint16_t* words, uint16_t* isProtected) override;
  std::string DevicePath(uint32_t n) override;
  std::string FirmwareVersion(uint32_t n) override;
  int ReadTargetBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) override;
  bool TargetPlugged(uint32_t n) override;
  bool TargetEnabled(uint32_t n) override;
  int SetTargetEnabled(uint32_t n, bool enabled) override;
  int SetSerialNumber(uint32_t n, uint8_t* bytes, uint32_t length) override;
  int WriteWithSerialNumber(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image,
                            uint32_t serialAddress) override;
  std::string NoEmulatorReason() override;
  int TargetCheckDescription(uint32_t n, TRGINFO* set, const char* targetName) override;
  uint32_t TargetProductIdWord(uint32_t n) override;

 // Narrows the targets to the attached emulators at `paths`, in that order:
  // target n is then the emulator at paths[n - 1], and every other emulator
  // is disabled, so that it takes no part in plugging or the lock-step
  // calls. Call it after connecting; a new connection enables every emulator
  // again. Returns the paths that no attached emulator has.
  std::vector<std::string> SelectDevices(const std::vector<std::string>& paths);
  // Every connected emulator is a target again, in the library's order.
  void SelectEveryDevice();
  // The attached emulators' paths in the library's order, whatever is selected.
  uint32_t LibraryTargetCount() const;
  std::string LibraryDevicePath(uint32_t device) const;

 protected:
  const ApiTable& Table() const { return api_; }
  // The library's number of target n (0 when a selection has no target n).
  uint32_t Device(uint32_t n) const;

 private:
  bool Target1Ok();
  // Security queries report a locked chip as 0x2005, which is an answer,
  // not an error.
  bool Target1OkAfterSecurityAnswer();

  const ApiTable& api_;
  std::optional<std::vector<uint32_t>> selected_;
};

}  // namespace quarnel
