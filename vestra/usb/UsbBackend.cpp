#include "usb/UsbBackend.h"

#include <cstdlib>

namespace vestra::usb {
namespace {

UsbBackend* g_testBackend = nullptr;

UsbBackend& defaultBackend() {
    static std::unique_ptr<UsbBackend> backend = [] {
        const char* simDir = std::getenv("KORVO_SIM_DIR");
        return (simDir != nullptr && *simDir != '\0') ? createSimSocketBackend(simDir) : createLibusbBackend();
    }();
    return *backend;
}

}  // namespace

UsbBackend& currentBackend() {
    return g_testBackend != nullptr ? *g_testBackend : defaultBackend();
}

void setBackendForTesting(UsbBackend* backend) {
    g_testBackend = backend;
}

}  // namespace vestra::usb
