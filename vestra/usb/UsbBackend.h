// The one seam between VESTRA and the operating system's USB access.
// CUsbPipe (and the connection set's enumeration) reach emulators only
// through these two interfaces. Implementations:
//   - libusb-1.0, for real emulators (LibusbBackend.cpp), which also takes
//     care of what only real USB does: zero-length packets after frames of
//     whole packets, and devices that re-enumerate on a reset,
//   - Unix SOCK_SEQPACKET sockets of korvo-sim (SimSocketBackend.cpp),
//   - an in-process scripted fake for unit tests (tests/FakeUsbBackend.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vestra::usb {

// Pipe indices: pipe 0 carries commands to the emulator, pipe 1 answers back.
enum : int { kPipeOut = 0, kPipeIn = 1 };

// One interface found by an enumeration. When its path could not be read,
// `readable` is false and `path` is empty.
struct DeviceEntry {
    std::string path;
    bool readable = true;
};

enum class TransferStatus {
    Completed,  // `count` bytes moved
    TimedOut,   // nothing (more) arrived within the time-out; the request was cancelled
    Stalled,    // the endpoint is halted
    NoDevice,   // the device is gone
    Failed,     // any other error
};

struct TransferResult {
    TransferStatus status = TransferStatus::Failed;
    uint32_t count = 0;
    // True when the transfer had finished when the call returned: without
    // waiting (the data was already there), or always, as on libusb. A short
    // read that completes at once ends a multi-chunk read; a short write that
    // completes at once is a failed write.
    bool completedAtOnce = false;
};

// Setup of a control request, in USB terms.
struct ControlSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
};

// One opened (claimed) device. Destroying it closes it.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;

    // Moves up to `length` bytes on `pipe`, waiting at most `timeoutMs`.
    // A read returns after one message (one short packet) has arrived.
    virtual TransferResult bulkTransfer(int pipe, uint8_t* data, uint32_t length, uint32_t timeoutMs) = 0;

    // Control request on endpoint 0; `data` holds `length` bytes (in or out
    // by the direction bit of requestType). `transferred` receives the count.
    virtual bool controlTransfer(const ControlSetup& setup, uint8_t* data, uint16_t length, uint16_t* transferred,
                                 uint32_t timeoutMs) = 0;

    virtual bool resetDevice() = 0;     // bus reset
    virtual bool clearHalt(int pipe) = 0;  // clear the endpoint's halt feature
};

class UsbBackend {
public:
    virtual ~UsbBackend() = default;

    // Appends the attached emulators in a stable order. False when no device
    // list could be obtained at all.
    virtual bool enumerate(std::vector<DeviceEntry>& devices) = 0;

    // Opens `path` for exclusive use; nullptr when it is absent or busy.
    // Called from several threads at once when links reopen their devices
    // while they wait for answers side by side.
    virtual std::unique_ptr<UsbDevice> open(const std::string& path) = 0;

    // Why the last enumerate listed no emulator, as a sentence for the user
    // (what was looked for, and where); empty when it listed one, or when the
    // backend cannot tell.
    virtual std::string emptyListingReason() const { return {}; }

    // Why the last open of `path` failed (no permission, in use by another
    // program, ...), as a sentence for the user naming the device; empty when
    // it did not fail, or when the backend cannot tell.
    virtual std::string openFailureReason(const std::string& /*path*/) const { return {}; }
};

// Remembers the reason of each path's last failed open, for
// openFailureReason; a successful open forgets it. Safe to use from several
// threads: links that wait for their answers at once may reopen their
// devices at once.
class OpenFailures {
public:
    void record(const std::string& path, std::string reason);
    void forget(const std::string& path);
    std::string reasonFor(const std::string& path) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> reasons_;
};

// The backend in use: korvo-sim's sockets when KORVO_SIM_DIR is set,
// libusb otherwise. Chosen at the first call, and again by chooseBackend.
UsbBackend& currentBackend();

// Reads KORVO_SIM_DIR again and switches the backend when its value changed,
// so that each enumeration follows the environment of its moment.
void chooseBackend();

// Replaces the backend for tests; nullptr goes back to the normal choice.
// The caller keeps ownership of `backend`.
void setBackendForTesting(UsbBackend* backend);

std::unique_ptr<UsbBackend> createLibusbBackend();
std::unique_ptr<UsbBackend> createSimSocketBackend(const std::string& directory);

}  // namespace vestra::usb
