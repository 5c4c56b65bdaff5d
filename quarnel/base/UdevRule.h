// The udev rule that gives the user at the seat access to the configured
// KORVO emulators, and the commands that install and load it. Plain C++, for
// the command-line program and any other front end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {

struct UsbDeviceId {
  uint16_t vendor;
  uint16_t product;
  friend bool operator==(const UsbDeviceId&, const UsbDeviceId&) = default;
};

// Where the library reads the emulators' USB IDs (UsbIds of section [Morvi]),
// and the IDs it reads there now. `path` is empty when no home directory is
// known; `ids` is empty when the file or the key is missing.
struct UsbIdConfig {
  std::string path;
  std::vector<UsbDeviceId> ids;
};

// Read with the library's own reader of that file, so both agree.
UsbIdConfig ReadUsbIdConfig();

inline constexpr const char* kUdevRuleFileName = "69-korvo.rules";
inline constexpr const char* kUdevRuleInstallPath = "/etc/udev/rules.d/69-korvo.rules";

// Content of 69-korvo.rules: a comment, then for each distinct ID in order
//   SUBSYSTEM=="usb", ATTR{idVendor}=="vvvv", ATTR{idProduct}=="pppp", TAG+="uaccess"
// (lower-case hexadecimal, as sysfs shows them). Empty when `ids` is empty:
// a rule without IDs would grant nothing.
std::string UdevRuleText(const std::vector<UsbDeviceId>& ids);

// The two shell commands that install the rule saved at `ruleFile` as
// kUdevRuleInstallPath and make udev apply it to devices already plugged:
//   sudo install -m 0644 <ruleFile> /etc/udev/rules.d/69-korvo.rules
//   sudo udevadm control --reload-rules && sudo udevadm trigger
// `ruleFile` is quoted for the shell when it needs to be.
std::vector<std::string> UdevInstallCommands(const std::string& ruleFile);

}  // namespace quarnel
