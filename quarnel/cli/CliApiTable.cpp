#include "cli/CliApiTable.h"

namespace quarnel::cli {

int CliApiTable::Connect() {
  if (!selection_) return connectEveryEmulator_ ? ConnectAll() : GuardedApiTable::Connect();
  const int connected = ConnectAll();
  missingPaths_ = SelectDevices(*selection_);
  return connected;
}

void CliApiTable::SelectOnConnect(std::vector<std::string> paths) {
  selection_ = std::move(paths);
  missingPaths_.clear();
}

bool CliApiTable::Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) {
  if (!serialAddress_) return GuardedApiTable::Write(start, end, flashAddress, image);
  WriteWithSerialNumber(start, end, flashAddress, image, *serialAddress_);
  return Status() == 0;
}

// The library gives the version text only for a target that is being
// plugged; checking the firmware reads it from the emulator.
std::string CliApiTable::ProbeFirmware(uint32_t n) {
  const ApiTable& api = Table();
  const uint32_t device = Device(n);
  PlugStatus before = PlugNone;
  api.ApiGetTargetPlugStatus(device, &before);
  if (before != PlugNone) return FirmwareVersion(n);
  api.ApiCheckFirm(device);
  api.ApiSetTargetPlugStatus(device, PlugInProgress);
  std::string version = FirmwareVersion(n);
  api.ApiSetTargetPlugStatus(device, PlugNone);
  api.ApiSetTargetStatus(device, 0);
  return version;
}

}  // namespace quarnel::cli
