#pragma once

#include <cstdint>
#include <string>

#include "vestra.h"

namespace quarnel {

// How the program reaches libvestra.so. The first group is the guarded call
// layer: unless noted, a call passes target 1 where the export takes a
// target number, ignores the export's own result, reads the status of
// target 1 and succeeds exactly when that status is 0. The second group
// reaches every plugged target, for the checks that do not stop at target 1;
// those calls return the export's own result and read no status.
//
// The program realises it over the bound export table; tests fake it.
class ApiCalls {
 public:
  virtual ~ApiCalls() = default;

  // ApiCreateConnectOne's own result (1 connected, 0 no emulator).
  virtual int Connect() = 0;
  // The status of target 1 itself (0 = no error).
  virtual int Status() = 0;
  // ApiReadTargetInfoFile's result: the description set, or null.
  virtual TRGINFO* ReadTargetDescriptions(uint8_t maxIdBits, uint16_t* filesFound) = 0;
  virtual bool Disconnect() = 0;
  virtual bool PlugAll(TRGINFO* set, const char* targetName) = 0;
  // A status of 0x2005 on target 1 is reset to 0 before the success test.
  virtual bool IsProtected(uint16_t* isProtected) = 0;
  virtual bool ChipErase() = 0;
  virtual bool EraseBlock(uint32_t address) = 0;
  virtual bool Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) = 0;
  virtual bool ResetAll() = 0;
  virtual bool SetStatus(int status) = 0;
  virtual bool ReleaseDescriptions(TRGINFO** set) = 0;
  // A status of 0x2005 on target 1 is reset to 0 before the success test.
  virtual bool SendSecurityId(uint8_t wordCount, uint16_t* words, uint16_t* isProtected) = 0;
  virtual bool SecurityType(uint16_t* type) = 0;
  virtual bool CheckTargetName(TRGINFO* set, const char* targetName) = 0;
  virtual bool ProductId(uint32_t idBitNum, uint32_t* id) = 0;
  virtual bool FirmwareVersionText(char* buffer, uint32_t bufferSize, uint32_t* needed) = 0;

  // Every plugged target. Target numbers run from 1 to TargetCount().
  // ApiCreateConnect's own result: every attached emulator, up to 32.
  virtual int ConnectAll() = 0;
  virtual uint32_t TargetCount() = 0;
  virtual int TargetStatus(uint32_t n) = 0;
  virtual int SetTargetStatus(uint32_t n, int status) = 0;
  virtual int TargetIsProtected(uint32_t n, uint16_t* isProtected) = 0;
  virtual int TargetSendSecurityId(uint32_t n, uint8_t wordCount, uint16_t* words, uint16_t* isProtected) = 0;
  virtual std::string DevicePath(uint32_t n) = 0;
  virtual std::string FirmwareVersion(uint32_t n) = 0;
  // ApiFlashReadBlock of target n: the bytes of the erase block holding
  // `address` that lie in flash (the last block with its reserved tail).
  virtual int ReadTargetBlock(uint32_t n, uint32_t address, uint32_t* got, uint8_t* buffer) = 0;
  // Plugged with its flash accessible (plug status 3).
  virtual bool TargetPlugged(uint32_t n) = 0;
  virtual bool TargetEnabled(uint32_t n) = 0;
  // A target that is not enabled takes no part in the lock-step calls.
  virtual int SetTargetEnabled(uint32_t n, bool enabled) = 0;
  virtual int SetSerialNumber(uint32_t n, uint8_t* bytes, uint32_t length) = 0;
  virtual int WriteWithSerialNumber(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image,
                                    uint32_t serialAddress) = 0;

  // Why the last connect found no emulator or could not open one (one line
  // each), as the library words it; empty when it opened every emulator,
  // or when the library does not offer the text.
  virtual std::string NoEmulatorReason() { return {}; }

  // Target n checked against the named description as plugging checks it:
  // ApiCheckTargetName (a chip that matches takes the description, one that
  // does not gets its own status), then ApiCheckFirm (firmware older than
  // the description asks for gets its own status). The library passes over
  // a target whose status is not 0. The default reaches no target and
  // returns 0, as the exports do for a target they do not have.
  virtual int TargetCheckDescription(uint32_t, TRGINFO*, const char*) { return 0; }

  // The first word of target n's product ID (read as a 64-bit ID), which
  // names its chip (ChipNameFromProductId); 0 where the default reaches no target.
  virtual uint32_t TargetProductIdWord(uint32_t) { return 0; }
};

}  // namespace quarnel
