#include "usb/UserConfig.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <vector>

#include "target/ProfileReader.h"

namespace vestra::usb {
namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    // The reentrant form: a device may be reopened on several threads at once.
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd record{};
    passwd* entry = nullptr;
    if (getpwuid_r(getuid(), &record, buffer.data(), buffer.size(), &entry) != 0 || entry == nullptr ||
        entry->pw_dir == nullptr) {
        return "";
    }
    return entry->pw_dir;
}

std::string configDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const std::string home = homeDirectory();
    return home.empty() ? "" : home + "/.config";
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool parseHex16(std::string_view text, uint16_t& value) {
    text = trim(text);
    if (text.empty() || text.size() > 4) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string morviConfigPath() {
    const std::string directory = configDirectory();
    return directory.empty() ? "" : directory + "/Zentor/Morvi.conf";
}

std::vector<UsbId> parseUsbIds(std::string_view list) {
    std::vector<UsbId> ids;
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view entry = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        const auto colon = entry.find(':');
        UsbId id{};
        if (colon != std::string_view::npos && parseHex16(entry.substr(0, colon), id.vendor) &&
            parseHex16(entry.substr(colon + 1), id.product)) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<UsbId> configuredUsbIds() {
    target::ProfileReader profile;
    if (!profile.load(morviConfigPath())) {
        return {};
    }
    return parseUsbIds(profile.find("Morvi", "UsbIds").value_or(""));
}

}  // namespace vestra::usb
