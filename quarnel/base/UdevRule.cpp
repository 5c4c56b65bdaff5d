#include "base/UdevRule.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "usb/UserConfig.h"

namespace quarnel {
namespace {

bool NeedsNoQuotes(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("_./-+,:@%=").find(c) != std::string_view::npos;
}

std::string ShellQuoted(const std::string& text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), NeedsNoQuotes)) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RuleLine(const UsbDeviceId& id) {
  char line[128];
  std::snprintf(line, sizeof line,
                "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"%04x\", ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                static_cast<unsigned>(id.vendor), static_cast<unsigned>(id.product));
  return line;
}

}  // namespace

UsbIdConfig ReadUsbIdConfig() {
  UsbIdConfig config{vestra::usb::morviConfigPath(), {}};
  for (const vestra::usb::UsbId& id : vestra::usb::configuredUsbIds()) config.ids.push_back({id.vendor, id.product});
  return config;
}

std::string UdevRuleText(const std::vector<UsbDeviceId>& ids) {
  if (ids.empty()) return {};
  // Rules named below 73 run before udev turns the uaccess tag into an ACL
  // for the user at the seat.
  std::string text =
      "# KORVO emulators: the user logged in at the seat may open them.\n"
      "# From UsbIds of [Morvi] in Zentor/Morvi.conf; install as " +
      std::string(kUdevRuleInstallPath) + ".\n";
  std::vector<UsbDeviceId> written;
  for (const UsbDeviceId& id : ids) {
    if (std::find(written.begin(), written.end(), id) != written.end()) continue;
    written.push_back(id);
    text += RuleLine(id);
  }
  return text;
}

std::vector<std::string> UdevInstallCommands(const std::string& ruleFile) {
  return {"sudo install -m 0644 " + ShellQuoted(ruleFile) + " " + kUdevRuleInstallPath,
          "sudo udevadm control --reload-rules && sudo udevadm trigger"};
}

}  // namespace quarnel
