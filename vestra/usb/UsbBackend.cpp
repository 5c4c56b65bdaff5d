#include "usb/UsbBackend.h"

#include <algorithm>
#include <cstdlib>

namespace vestra::usb {
namespace {

UsbBackend* g_testBackend = nullptr;

// The normal backend and the KORVO_SIM_DIR value it was chosen for ("" for
// libusb).
struct ChosenBackend {
    std::unique_ptr<UsbBackend> backend;
    std::string simDir;
};

ChosenBackend& chosen() {
    static ChosenBackend choice;
    return choice;
}

std::string simDirFromEnvironment() {
    const char* simDir = std::getenv("KORVO_SIM_DIR");
    return simDir != nullptr ? simDir : "";
}

// Devices already opened keep working after a switch: neither backend's
// devices refer back to the backend object.
UsbBackend& defaultBackend() {
    ChosenBackend& choice = chosen();
    if (!choice.backend) chooseBackend();
    return *choice.backend;
}

}  // namespace

void chooseBackend() {
    ChosenBackend& choice = chosen();
    const std::string simDir = simDirFromEnvironment();
    if (choice.backend && choice.simDir == simDir) return;
    choice.backend = simDir.empty() ? createLibusbBackend() : createSimSocketBackend(simDir);
    choice.simDir = simDir;
}

UsbBackend& currentBackend() {
    return g_testBackend != nullptr ? *g_testBackend : defaultBackend();
}

void setBackendForTesting(UsbBackend* backend) {
    g_testBackend = backend;
}

void OpenFailures::record(const std::string& path, std::string reason) {
    std::lock_guard lock(mutex_);
    std::erase_if(reasons_, [&](const auto& entry) { return entry.first == path; });
    reasons_.emplace_back(path, std::move(reason));
}

void OpenFailures::forget(const std::string& path) {
    std::lock_guard lock(mutex_);
    std::erase_if(reasons_, [&](const auto& entry) { return entry.first == path; });
}

std::string OpenFailures::reasonFor(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto found =
        std::find_if(reasons_.begin(), reasons_.end(), [&](const auto& entry) { return entry.first == path; });
    return found != reasons_.end() ? found->second : std::string{};
}

}  // namespace vestra::usb
