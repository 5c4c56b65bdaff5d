#pragma once

#include <optional>
#include <string>

#include "app/ApiTable.h"

namespace quarnel::cli {

// The guarded call layer as the command-line writer uses it: connect reaches
// every attached emulator when the run expects more than two, and with a
// serial number every write carries each target's own number.
class CliApiTable : public GuardedApiTable {
 public:
  CliApiTable(const ApiTable& table, bool connectEveryEmulator, std::optional<uint32_t> serialAddress)
      : GuardedApiTable(table), connectEveryEmulator_(connectEveryEmulator), serialAddress_(serialAddress) {}

  int Connect() override;
  bool Write(uint32_t start, uint32_t end, uint32_t flashAddress, uint8_t* image) override;

  // Target n's firmware version text, also before any target is plugged.
  std::string ProbeFirmware(uint32_t n);
  // The first word of target n's product ID, read as a 64-bit ID.
  uint32_t ProbeProductId(uint32_t n);

 private:
  bool connectEveryEmulator_;
  std::optional<uint32_t> serialAddress_;
};

}  // namespace quarnel::cli
