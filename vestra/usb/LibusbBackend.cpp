// libusb-1.0 backend for real emulators.
//
// The emulator's USB IDs are configured, never guessed: only devices whose
// vendor:product pair is listed in UsbIds=VVVV:PPPP[,VVVV:PPPP...] of section
// [Morvi] in the per-user Morvi.conf are listed or opened. A device's path is
// "usb:<bus>-<port path>", e.g. "usb:1-4.2", stable for a physical port;
// devices are listed by bus and then port by port, as numbers, and a device
// whose port path cannot be read is left out (it could never be opened).
// Pipe 0 is bulk OUT endpoint 0x01, pipe 1 bulk IN endpoint 0x82; opening
// claims interface 0, which usbfs grants to one handle only.
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "usb/UsbBackend.h"
#include "usb/UsbPipe.h"
#include "usb/UserConfig.h"

namespace vestra::usb {
namespace {

constexpr int kInterface = 0;
constexpr int kMaxPortDepth = 7;
constexpr uint32_t kDefaultPacketSize = 512;
// How long a device that re-enumerates on a reset may take to come back.
constexpr auto kReappearWait = std::chrono::milliseconds(2000);
constexpr auto kReappearPoll = std::chrono::milliseconds(20);

std::string idText(const std::vector<UsbId>& ids) {
    std::string text;
    for (const UsbId& id : ids) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "%s%04x:%04x", text.empty() ? "" : ", ", id.vendor, id.product);
        text += entry;
    }
    return text;
}

std::string noIdsConfiguredReason() {
    const std::string path = morviConfigPath();
    return "No emulator USB IDs are configured: UsbIds=VVVV:PPPP is missing from section [Morvi] of " +
           (path.empty() ? std::string("Morvi.conf (no home directory was found)") : path) + ".";
}

// The usbfs node that must be writable for the device to be opened.
std::string nodePathOf(libusb_device* device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return node;
}

std::string openErrorReason(const std::string& path, libusb_device* device, int error) {
    const std::string where = "the emulator at " + path + " (" + nodePathOf(device) + ")";
    if (error == LIBUSB_ERROR_ACCESS) {
        return "No permission to open " + where +
               ": a udev rule must give the user access to it (see quarnel-cli udev-rule).";
    }
    return "Could not open " + where + ": " + libusb_strerror(static_cast<libusb_error>(error)) + ".";
}

std::string claimErrorReason(const std::string& path, int error) {
    if (error == LIBUSB_ERROR_BUSY) {
        return "The emulator at " + path + " is in use by another program.";
    }
    return "Could not claim the emulator at " + path + ": " + libusb_strerror(static_cast<libusb_error>(error)) + ".";
}

// Where a device sits: its bus and the port numbers from the root on. No
// ports when the port path cannot be read.
struct Location {
    std::vector<int> order;  // bus, then each port
    bool readable() const { return order.size() > 1; }

    std::string path() const {
        std::string text = "usb:" + std::to_string(order[0]) + "-";
        for (size_t i = 1; i < order.size(); ++i) {
            text += (i == 1 ? "" : ".") + std::to_string(order[i]);
        }
        return text;
    }
};

Location locationOf(libusb_device* device) {
    uint8_t ports[kMaxPortDepth];
    const int depth = libusb_get_port_numbers(device, ports, kMaxPortDepth);
    Location location{{libusb_get_bus_number(device)}};
    for (int i = 0; i < depth; ++i) {
        location.order.push_back(ports[i]);
    }
    return location;
}

// Owns the libusb context; every opened device keeps it alive, so handles
// may outlive the backend object.
class Context {
public:
    Context() { ok_ = libusb_init(&context_) == 0; }
    ~Context() {
        if (ok_) {
            libusb_exit(context_);
        }
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    bool ok() const { return ok_; }
    libusb_context* get() const { return context_; }

private:
    libusb_context* context_ = nullptr;
    bool ok_ = false;
};

// The configured devices currently attached whose port path can be read,
// in port order, with their paths; releases the libusb references on
// destruction.
class MatchingDevices {
public:
    MatchingDevices(libusb_context* context, const std::vector<UsbId>& ids) {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context, &list);
        listed_ = count >= 0;
        std::vector<std::pair<Location, libusb_device*>> found;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) != 0) {
                continue;
            }
            const UsbId id{descriptor.idVendor, descriptor.idProduct};
            const Location location = locationOf(list[i]);
            if (std::find(ids.begin(), ids.end(), id) != ids.end() && location.readable()) {
                found.emplace_back(location, libusb_ref_device(list[i]));
            }
        }
        if (list != nullptr) {
            libusb_free_device_list(list, 1);
        }
        std::sort(found.begin(), found.end(),
                  [](const auto& a, const auto& b) { return a.first.order < b.first.order; });
        for (const auto& [location, device] : found) {
            devices_.emplace_back(location.path(), device);
        }
    }
    ~MatchingDevices() {
        for (auto& entry : devices_) {
            libusb_unref_device(entry.second);
        }
    }
    MatchingDevices(const MatchingDevices&) = delete;
    MatchingDevices& operator=(const MatchingDevices&) = delete;

    bool listed() const { return listed_; }
    const std::vector<std::pair<std::string, libusb_device*>>& devices() const { return devices_; }

private:
    bool listed_ = false;
    std::vector<std::pair<std::string, libusb_device*>> devices_;
};

// Opens the configured device at `path` and claims its interface; null when
// it is absent, not configured or busy, with the reason in `failure` when given.
libusb_device_handle* openClaimedHandle(libusb_context* context, const std::string& path, std::string* failure) {
    std::string reason = "The emulator at " + path + " is not attached.";
    libusb_device_handle* handle = nullptr;
    const std::vector<UsbId> ids = configuredUsbIds();
    if (ids.empty()) {
        reason = noIdsConfiguredReason();
    } else if (!path.empty()) {
        const MatchingDevices matching(context, ids);
        for (const auto& [candidate, device] : matching.devices()) {
            if (candidate != path) {
                continue;
            }
            if (const int error = libusb_open(device, &handle); error != 0) {
                reason = openErrorReason(path, device, error);
                handle = nullptr;
            } else if (const int claim = libusb_claim_interface(handle, kInterface); claim != 0) {
                reason = claimErrorReason(path, claim);
                libusb_close(handle);
                handle = nullptr;
            }
            break;
        }
    }
    if (handle == nullptr && failure != nullptr) {
        *failure = std::move(reason);
    }
    return handle;
}

TransferStatus statusOf(int error) {
    switch (error) {
    case LIBUSB_SUCCESS: return TransferStatus::Completed;
    case LIBUSB_ERROR_TIMEOUT: return TransferStatus::TimedOut;
    case LIBUSB_ERROR_PIPE: return TransferStatus::Stalled;
    case LIBUSB_ERROR_NO_DEVICE: return TransferStatus::NoDevice;
    default: return TransferStatus::Failed;
    }
}

// libusb takes a time-out of 0 as "wait for ever".
unsigned int libusbTimeout(uint32_t timeoutMs) {
    return timeoutMs == 0 ? 1 : timeoutMs;
}

// A bulk transfer has finished when libusb returns it: a short OUT transfer
// is a failed write, and a short IN transfer is a whole answer.
class LibusbDevice final : public UsbDevice {
public:
    LibusbDevice(std::shared_ptr<Context> context, libusb_device_handle* handle, std::string path)
        : context_(std::move(context)), handle_(handle), path_(std::move(path)) {
        readPacketSize();
    }
    ~LibusbDevice() override { close(); }
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    TransferResult bulkTransfer(int pipe, uint8_t* data, uint32_t length, uint32_t timeoutMs) override {
        const uint8_t endpoint = endpointAddress(pipe);
        if (endpoint == 0) {
            return {TransferStatus::Failed, 0, true};
        }
        if (handle_ == nullptr) {
            return {TransferStatus::NoDevice, 0, true};
        }
        return pipe == kPipeOut ? write(endpoint, data, length, timeoutMs) : read(endpoint, data, length, timeoutMs);
    }

    bool controlTransfer(const ControlSetup& setup, uint8_t* data, uint16_t length, uint16_t* transferred,
                         uint32_t timeoutMs) override {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        if (handle_ == nullptr) {
            return false;
        }
        const int result = libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value,
                                                   setup.index, data, length, libusbTimeout(timeoutMs));
        if (transferred != nullptr && result > 0) {
            *transferred = static_cast<uint16_t>(result);
        }
        return result >= 0;
    }

    // A device that re-enumerates on the reset leaves this handle dead; it is
    // found again at the same port path and reopened.
    bool resetDevice() override {
        if (handle_ == nullptr) {
            return reopen();
        }
        const int error = libusb_reset_device(handle_);
        if (error == LIBUSB_ERROR_NOT_FOUND || error == LIBUSB_ERROR_NO_DEVICE) {
            return reopen();
        }
        return error == 0;
    }

    bool clearHalt(int pipe) override {
        const uint8_t endpoint = endpointAddress(pipe);
        return handle_ != nullptr && endpoint != 0 && libusb_clear_halt(handle_, endpoint) == 0;
    }

private:
    TransferResult transferOnce(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t timeoutMs) {
        int transferred = 0;
        const int error = libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(length), &transferred,
                                               libusbTimeout(timeoutMs));
        return {statusOf(error), static_cast<uint32_t>(transferred), true};
    }

    // A frame whose length is a multiple of the packet size ends on the bus
    // only with a zero-length packet after it.
    TransferResult write(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t timeoutMs) {
        TransferResult result = transferOnce(endpoint, data, length, timeoutMs);
        if (result.status == TransferStatus::Completed && result.count == length && endsOnPacketBoundary(length)) {
            const TransferResult terminator = transferOnce(endpoint, data, 0, timeoutMs);
            result.status = terminator.status;
        }
        return result;
    }

    // Read with room for one packet more than asked, so that an answer of a
    // multiple of the packet size ends on its own zero-length packet, which
    // would otherwise be left for the next read. An answer longer than
    // `length` is a failure.
    TransferResult read(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t timeoutMs) {
        if (!endsOnPacketBoundary(length)) {
            return transferOnce(endpoint, data, length, timeoutMs);
        }
        std::vector<uint8_t> room(length + packetSize_);
        TransferResult result = transferOnce(endpoint, room.data(), static_cast<uint32_t>(room.size()), timeoutMs);
        if (result.count > length) {
            return {TransferStatus::Failed, 0, true};
        }
        std::copy_n(room.begin(), result.count, data);
        return result;
    }

    bool endsOnPacketBoundary(uint32_t length) const { return length != 0 && length % packetSize_ == 0; }

    void readPacketSize() {
        const int size = libusb_get_max_packet_size(libusb_get_device(handle_), endpointAddress(kPipeOut));
        packetSize_ = size > 0 ? static_cast<uint32_t>(size) : kDefaultPacketSize;
    }

    bool reopen() {
        close();
        const auto deadline = std::chrono::steady_clock::now() + kReappearWait;
        for (;;) {
            handle_ = openClaimedHandle(context_->get(), path_, nullptr);
            if (handle_ != nullptr) {
                readPacketSize();
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(kReappearPoll);
        }
    }

    void close() {
        if (handle_ != nullptr) {
            libusb_release_interface(handle_, kInterface);
            libusb_close(handle_);
            handle_ = nullptr;
        }
    }

    std::shared_ptr<Context> context_;
    libusb_device_handle* handle_;
    std::string path_;
    uint32_t packetSize_ = kDefaultPacketSize;
};

class LibusbBackend final : public UsbBackend {
public:
    bool enumerate(std::vector<DeviceEntry>& devices) override {
        const std::vector<UsbId> ids = configuredUsbIds();
        if (ids.empty()) {
            emptyListingReason_ = noIdsConfiguredReason();
            return true;
        }
        if (!initialise()) {
            emptyListingReason_ = "USB devices cannot be listed: libusb could not be initialised.";
            return false;
        }
        const MatchingDevices matching(context_->get(), ids);
        for (const auto& [path, device] : matching.devices()) {
            devices.push_back({path, true});
        }
        emptyListingReason_.clear();
        if (!matching.listed()) {
            emptyListingReason_ = "USB devices cannot be listed: libusb could not read the device list.";
        } else if (matching.devices().empty()) {
            emptyListingReason_ = "No emulator with a configured USB ID (" + idText(ids) + ") is attached.";
        }
        return matching.listed();
    }

    std::unique_ptr<UsbDevice> open(const std::string& path) override {
        if (!initialise()) {
            failures_.record(path, "The emulator at " + path + " cannot be opened: libusb could not be initialised.");
            return nullptr;
        }
        std::string failure;
        libusb_device_handle* handle = openClaimedHandle(context_->get(), path, &failure);
        if (handle == nullptr) {
            failures_.record(path, std::move(failure));
            return nullptr;
        }
        failures_.forget(path);
        return std::make_unique<LibusbDevice>(context_, handle, path);
    }

    std::string emptyListingReason() const override { return emptyListingReason_; }

    std::string openFailureReason(const std::string& path) const override { return failures_.reasonFor(path); }

private:
    // Deferred to the first use, so that merely choosing this backend touches
    // no USB state. Safe when links reopen their devices on several threads.
    bool initialise() {
        std::call_once(initialised_, [this] { context_ = std::make_shared<Context>(); });
        return context_->ok();
    }

    std::once_flag initialised_;
    std::shared_ptr<Context> context_;
    std::string emptyListingReason_;
    OpenFailures failures_;
};

}  // namespace

std::unique_ptr<UsbBackend> createLibusbBackend() {
    return std::make_unique<LibusbBackend>();
}

}  // namespace vestra::usb
