#pragma once

#include <optional>
#include <string>
#include <vector>

#include "binding/ApiTable.h"

namespace quarnel::cli {

// The guarded call layer as the command-line writer uses it: connect reaches
// every attached emulator when the run expects more than two, and with a
// serial number every write carries each target's own number.
class CliApiTable : public GuardedApiTable {
 public:
  CliApiTable(const ApiTable& table, bool connectEveryEmulator, std::optional<uint32_t> serialAddress)
      : GuardedApiTable(table), connectEveryEmulator_(connectEveryEmulator), serialAddress_(serialAddress) {}

  int Connect() override;

  // From the next connect on, the targets are the emulators at `paths`, in
  // that order (see SelectDevices); every attached emulator is connected.
  void SelectOnConnect(std::vector<std::string> paths);
  // The paths of the selection that no attached emulator had at the last connect.
  const std::vector<std::string>& MissingPaths() const { return missingPaths_; }
  bool Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) override;

  // Target n's firmware version text, also before any target is plugged.
  std::string ProbeFirmware(uint32_t n);

 private:
  bool connectEveryEmulator_;
  std::optional<std::vector<std::string>> selection_;
  std::vector<std::string> missingPaths_;
  std::optional<uint32_t> serialAddress_;
};

}  // namespace quarnel::cli
