#include "base/UdevRule.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace quarnel {
namespace {

TEST(UdevRule, OneUaccessLinePerDistinctIdInLowerCase) {
  EXPECT_EQ(UdevRuleText({{0xF055, 0x4B56}, {0x1234, 0x0078}, {0xF055, 0x4B56}}),
            "# KORVO emulators: the user logged in at the seat may open them.\n"
            "# From UsbIds of [Morvi] in Zentor/Morvi.conf; install as /etc/udev/rules.d/69-korvo.rules.\n"
            "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"f055\", ATTR{idProduct}==\"4b56\", TAG+=\"uaccess\"\n"
            "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1234\", ATTR{idProduct}==\"0078\", TAG+=\"uaccess\"\n");
  EXPECT_EQ(UdevRuleText({}), "");
}

TEST(UdevRule, InstallCommandsQuoteTheSavedFileForTheShell) {
  struct Case {
    std::string file;
    std::string shown;
  };
  const Case cases[] = {
      {"69-korvo.rules", "69-korvo.rules"},
      {"/tmp/rules/69-korvo.rules", "/tmp/rules/69-korvo.rules"},
      {"/home/op/my rules/69-korvo.rules", "'/home/op/my rules/69-korvo.rules'"},
      {"it's;rm -rf", "'it'\\''s;rm -rf'"},
      {"", "''"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UdevInstallCommands(c.file),
              (std::vector<std::string>{"sudo install -m 0644 " + c.shown + " /etc/udev/rules.d/69-korvo.rules",
                                        "sudo udevadm control --reload-rules && sudo udevadm trigger"}));
  }
}

// The IDs come from the file the library reads, parsed by its rules: names
// without regard to case, blanks around the numbers, malformed entries left out.
TEST(UdevRule, ConfiguredIdsAreReadFromMorviConf) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quarnel-udev-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "Zentor");
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  const std::string file = (dir / "Zentor" / "Morvi.conf").string();

  UsbIdConfig missing = ReadUsbIdConfig();
  EXPECT_EQ(missing.path, file);
  EXPECT_TRUE(missing.ids.empty());

  std::ofstream(file) << "[Other]\nUsbIds=1111:2222\n[morvi]\nTrgPath=/opt/trg\nusbids = F055:4B56, bad, 12345:1, 1234 : 5678\n";
  const UsbIdConfig config = ReadUsbIdConfig();
  EXPECT_EQ(config.path, file);
  EXPECT_EQ(config.ids, (std::vector<UsbDeviceId>{{0xF055, 0x4B56}, {0x1234, 0x5678}}));

  old != nullptr ? setenv("XDG_CONFIG_HOME", saved.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quarnel
