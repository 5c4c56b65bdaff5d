// The per-user configuration file shared by the USB backend (UsbIds) and
// the target description reader (TrgPath). Depends on the standard library
// and the profile reader only, so that other programs can compile it in and
// read the file exactly as the library does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vestra::usb {

// "$XDG_CONFIG_HOME/Zentor/Morvi.conf"; when XDG_CONFIG_HOME is unset, empty
// or relative, the config directory is "$HOME/.config". Empty when no home
// directory can be found either.
std::string morviConfigPath();

// A vendor:product pair of USB IDs.
struct UsbId {
    uint16_t vendor;
    uint16_t product;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// UsbIds=VVVV:PPPP[,VVVV:PPPP...] in hexadecimal, blanks allowed around each
// number; entries of another form are skipped.
std::vector<UsbId> parseUsbIds(std::string_view list);

// The UsbIds of section [Morvi] in morviConfigPath(); none when the file or
// the key is missing.
std::vector<UsbId> configuredUsbIds();

}  // namespace vestra::usb
