#include "usb/UsbBackend.h"

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

}  // namespace vestra::usb
