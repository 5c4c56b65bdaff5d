#include "cli/CliApiTable.h"

namespace quarnel::cli {
namespace {

constexpr uint32_t kShortProductIdBits = 64;

}  // namespace

int CliApiTable::Connect() { return connectEveryEmulator_ ? ConnectAll() : GuardedApiTable::Connect(); }

bool CliApiTable::Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) {
  if (!serialAddress_) return GuardedApiTable::Write(start, end, flashAddress, image);
  WriteWithSerialNumber(start, end, flashAddress, image, *serialAddress_);
  return Status() == 0;
}

// The library gives the version text only for a target that is being
// plugged; checking the firmware reads it from the emulator.
std::string CliApiTable::ProbeFirmware(uint32_t n) {
  const ApiTable& api = Table();
  PlugStatus before = PlugNone;
  api.ApiGetTargetPlugStatus(n, &before);
  if (before != PlugNone) return FirmwareVersion(n);
  api.ApiCheckFirm(n);
  api.ApiSetTargetPlugStatus(n, PlugInProgress);
  std::string version = FirmwareVersion(n);
  api.ApiSetTargetPlugStatus(n, PlugNone);
  api.ApiSetTargetStatus(n, 0);
  return version;
}

uint32_t CliApiTable::ProbeProductId(uint32_t n) {
  uint32_t id[4] = {};
  Table().ApiTargetReadProductID(n, kShortProductIdBits, id);
  return id[0];
}

}  // namespace quarnel::cli
