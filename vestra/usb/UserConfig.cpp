#include "usb/UserConfig.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace vestra::usb {
namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string configDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const std::string home = homeDirectory();
    return home.empty() ? "" : home + "/.config";
}

}  // namespace

std::string morviConfigPath() {
    const std::string directory = configDirectory();
    return directory.empty() ? "" : directory + "/Zentor/Morvi.conf";
}

}  // namespace vestra::usb
