#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarnel::cli {

// The fixture's sockets: slot number (1 to 32) to the USB port path of the
// emulator that sits in it, so that slot 3 is always the same socket. Kept
// as a small settings file:
//
//   [Slots]
//   1="usb:1-4.1"
//   2="usb:1-4.2"
struct SlotMap {
  std::map<int, std::string> paths;

  // The slot whose emulator sits at `path`, if any.
  std::optional<int> SlotOf(const std::string& path) const;
  // The paths in slot order.
  std::vector<std::string> PathsInSlotOrder() const;
};

// Reads a slot map; empty with `error` set when the file cannot be read or
// names no slot, a slot outside 1 to 32, or one path for two slots.
std::optional<SlotMap> ReadSlotMap(const std::string& file, std::string* error);

// Slots 1, 2, ... for `paths` in their order, as ReadSlotMap reads them.
std::string SlotMapText(const std::vector<std::string>& paths);

}  // namespace quarnel::cli
