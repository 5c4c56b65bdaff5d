// Location of the per-user configuration file shared by the USB backend
// (UsbIds) and the target description reader (TrgPath).
#pragma once

#include <string>

namespace vestra::usb {

// "$XDG_CONFIG_HOME/Zentor/Morvi.conf"; when XDG_CONFIG_HOME is unset, empty
// or relative, the config directory is "$HOME/.config". Empty when no home
// directory can be found either.
std::string morviConfigPath();

}  // namespace vestra::usb
