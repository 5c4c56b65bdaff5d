// The libusb backend against mocked usbfs device nodes (run under
// umockdev-wrapper). MockEmulator answers the usbfs ioctls that libusb issues;
// it runs on umockdev's worker thread, so its state is locked.
#include <gtest/gtest.h>

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <linux/capability.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SimProcess.h"
#include "device/TrgConnectCtrl.h"
#include "link/EmuLink.h"
#include "target/TrgReader.h"
#include "usb/UsbBackend.h"
#include "usb/UsbPipe.h"
#include "vestra.h"

namespace vestra::usb {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kVendor = 0xF055;
constexpr uint16_t kProduct = 0x4B56;
constexpr uint32_t kShortTimeoutMs = 50;

Bytes descriptors(uint16_t vendor, uint16_t product, uint8_t deviceClass) {
    return {
        // device
        0x12, 0x01, 0x00, 0x02, deviceClass, 0x00, 0x00, 0x40, static_cast<uint8_t>(vendor),
        static_cast<uint8_t>(vendor >> 8), static_cast<uint8_t>(product), static_cast<uint8_t>(product >> 8), 0x00,
        0x01, 0x00, 0x00, 0x00, 0x01,
        // configuration 1, one interface with a bulk OUT 0x01 and a bulk IN 0x82 endpoint
        0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
        0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
        0x07, 0x05, 0x01, 0x02, 0x00, 0x02, 0x00,
        0x07, 0x05, 0x82, 0x02, 0x00, 0x02, 0x00,
    };
}

constexpr size_t kPacketSize = 512;

// Answers go out as bulk IN packets of kPacketSize bytes; a message whose
// length is a multiple of it (none included) ends with a zero-length packet.
// An IN request takes packets until it is full or a short packet ends it.
class MockEmulator {
public:
    void queueAnswer(const Bytes& message) {
        std::lock_guard lock(mutex_);
        queuePackets(message);
    }
    // Hands every frame written to it to a korvo-sim emulator connected on
    // `socket` and queues that emulator's answer; the caller keeps the socket.
    void bridgeTo(int socket) {
        std::lock_guard lock(mutex_);
        bridge_ = socket;
    }
    // The next OUT request moves only `count` bytes.
    void shortenNextWrite(uint32_t count) {
        std::lock_guard lock(mutex_);
        shortWrite_ = count;
    }
    // The next reset makes the device re-enumerate: the reset reports it gone
    // and this node answers nothing more.
    void reenumerateOnReset() {
        std::lock_guard lock(mutex_);
        reenumerateOnReset_ = true;
    }
    void stallNextRead() {
        std::lock_guard lock(mutex_);
        stallNextRead_ = true;
    }
    void unplug() {
        std::lock_guard lock(mutex_);
        unplugged_ = true;
    }
    std::vector<Bytes> written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    std::vector<Bytes> controlSetups() const {
        std::lock_guard lock(mutex_);
        return setups_;
    }
    std::vector<unsigned long> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int count(unsigned long request) const {
        const auto all = requests();
        return static_cast<int>(std::count(all.begin(), all.end(), request));
    }
    std::vector<unsigned> clearedEndpoints() const {
        std::lock_guard lock(mutex_);
        return cleared_;
    }
    bool claimed() const {
        std::lock_guard lock(mutex_);
        return claimed_;
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<MockEmulator*>(self)->handle(client);
        return TRUE;
    }

private:
    struct Urb {
        UMockdevIoctlData* urb;
        UMockdevIoctlData* buffer;  // null for an empty transfer
        bool done;
    };

    static usbdevfs_urb* fields(const Urb& urb) { return reinterpret_cast<usbdevfs_urb*>(urb.urb->data); }

    void handle(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex_);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        requests_.push_back(request);
        if (unplugged_) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        switch (request) {
        case USBDEVFS_SUBMITURB: submit(arg); break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            if (!reap(arg)) {
                umockdev_ioctl_client_complete(client, -1, EAGAIN);
                return;
            }
            break;
        case USBDEVFS_DISCARDURB: discard(arg); break;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
            if (claimed_) {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
                return;
            }
            claimed_ = true;
            break;
        case USBDEVFS_RELEASEINTERFACE: claimed_ = false; break;
        case USBDEVFS_RESET:
            if (reenumerateOnReset_) {
                unplugged_ = true;
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return;
            }
            break;
        case USBDEVFS_CLEAR_HALT: cleared_.push_back(*resolved<unsigned>(arg)); break;
        case USBDEVFS_GET_CAPABILITIES: *resolved<uint32_t>(arg) = 0; break;
        default: umockdev_ioctl_client_complete(client, -1, ENOTTY); return;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    template <typename T>
    static T* resolved(UMockdevIoctlData* arg) {
        return reinterpret_cast<T*>(umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr)->data);
    }

    void submit(UMockdevIoctlData* arg) {
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        UMockdevIoctlData* buffer = nullptr;
        if (urb->buffer_length > 0) {
            buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
            umockdev_ioctl_data_ref(buffer);
        }
        umockdev_ioctl_data_ref(urbData);
        Urb pending{urbData, buffer, false};
        urb->status = 0;
        urb->actual_length = 0;
        if (urb->endpoint == 0x00) {
            setups_.emplace_back(buffer->data, buffer->data + 8);
            pending.done = true;
        } else if (urb->endpoint == 0x01) {
            const int moved = std::min(urb->buffer_length, shortWrite_.value_or(urb->buffer_length));
            shortWrite_.reset();
            written_.push_back(buffer != nullptr ? Bytes(buffer->data, buffer->data + moved) : Bytes{});
            forward(written_.back());
            urb->actual_length = moved;
            pending.done = true;
        } else if (stallNextRead_) {
            stallNextRead_ = false;
            urb->status = -EPIPE;
            pending.done = true;
        } else if (!packets_.empty()) {
            urb->actual_length = static_cast<int>(takePackets(buffer, static_cast<size_t>(urb->buffer_length)));
            pending.done = true;
        }
        urbs_.push_back(pending);
    }

    void queuePackets(const Bytes& message) {
        for (size_t at = 0; at < message.size(); at += kPacketSize) {
            packets_.emplace_back(message.begin() + at, message.begin() + std::min(at + kPacketSize, message.size()));
        }
        if (message.size() % kPacketSize == 0) {
            packets_.emplace_back();
        }
    }

    // The simulator answers every frame at once; its answer waits here for
    // the IN request that follows.
    void forward(const Bytes& frame) {
        if (bridge_ < 0 || frame.empty() || ::send(bridge_, frame.data(), frame.size(), 0) < 0) {
            return;
        }
        pollfd readable{bridge_, POLLIN, 0};
        Bytes answer(8192);
        if (::poll(&readable, 1, 2000) == 1) {
            const ssize_t got = ::recv(bridge_, answer.data(), answer.size(), 0);
            if (got > 0) {
                answer.resize(static_cast<size_t>(got));
                queuePackets(answer);
            }
        }
    }

    size_t takePackets(UMockdevIoctlData* buffer, size_t capacity) {
        size_t count = 0;
        while (!packets_.empty() && count < capacity) {
            Bytes& packet = packets_.front();
            const size_t taken = std::min(packet.size(), capacity - count);
            std::copy_n(packet.begin(), taken, buffer->data + count);
            count += taken;
            if (taken < packet.size()) {  // the rest waits for the next request
                packet.erase(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(taken));
                break;
            }
            const bool shortPacket = packet.size() < kPacketSize;
            packets_.pop_front();
            if (shortPacket) {
                break;
            }
        }
        return count;
    }

    bool reap(UMockdevIoctlData* arg) {
        for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
            if (it->done) {
                // The argument points at the caller's urb pointer.
                UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
                umockdev_ioctl_data_set_ptr(slot, 0, it->urb);
                release(*it);
                urbs_.erase(it);
                return true;
            }
        }
        return false;
    }

    // An IN request that no answer completed: it ends as cancelled.
    void discard(UMockdevIoctlData* arg) {
        const auto address = *reinterpret_cast<unsigned long*>(arg->data);
        for (Urb& urb : urbs_) {
            if (urb.urb->client_addr == address) {
                fields(urb)->status = -ENOENT;
                urb.done = true;
            }
        }
    }

    static void release(const Urb& urb) {
        if (urb.buffer != nullptr) {
            umockdev_ioctl_data_unref(urb.buffer);
        }
        umockdev_ioctl_data_unref(urb.urb);
    }

    mutable std::mutex mutex_;
    std::deque<Bytes> packets_;
    std::optional<int> shortWrite_;
    int bridge_ = -1;
    bool reenumerateOnReset_ = false;
    std::deque<Urb> urbs_;
    std::vector<Bytes> written_;
    std::vector<Bytes> setups_;
    std::vector<unsigned long> requests_;
    std::vector<unsigned> cleared_;
    bool stallNextRead_ = false;
    bool unplugged_ = false;
    bool claimed_ = false;
};

// A testbed with a root hub on bus 1, a hub on port 4 and devices behind it.
class LibusbBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        configDir_ = std::filesystem::temp_directory_path() / ("vestra-usb-test-" + std::to_string(getpid()));
        std::filesystem::create_directories(configDir_ / "Zentor");
        setenv("XDG_CONFIG_HOME", configDir_.c_str(), 1);
        configure("UsbIds = F055:4B56, 1234:5678");
        setPipeTimeoutsForTesting(kShortTimeoutMs, kShortTimeoutMs);

        testbed_ = umockdev_testbed_new();
        const std::string root = addDevice("usb1", nullptr, 1, descriptors(0x1D6B, 0x0002, 0x09), nullptr);
        root_ = root;
        hub_ = addDevice("1-4", root.c_str(), 2, descriptors(0x05E3, 0x0610, 0x09), nullptr);
        emulatorSyspath_ = addDevice("1-4.2", hub_.c_str(), 3, descriptors(kVendor, kProduct, 0x00), &emulator_);
        addDevice("1-3", root.c_str(), 4, descriptors(0x1234, 0x5678, 0x00), &second_);
        addDevice("1-5", root.c_str(), 5, descriptors(0xABCD, 0x0001, 0x00), nullptr);  // not configured
        backend_ = createLibusbBackend();
    }

    void TearDown() override {
        setBackendForTesting(nullptr);
        resetPipeTimeoutsForTesting();
        backend_.reset();
        for (UMockdevIoctlBase* handler : handlers_) {
            g_object_unref(handler);
        }
        if (testbed_ != nullptr) {
            g_object_unref(testbed_);
        }
        std::filesystem::remove_all(configDir_);
    }

    void configure(const std::string& line) {
        std::ofstream(configDir_ / "Zentor" / "Morvi.conf") << "[Morvi]\n" << line << "\n";
    }

    std::string addDevice(const char* name, const char* parent, int devnum, const Bytes& descriptor,
                          MockEmulator* mock) {
        char node[32];  // DEVNAME is the same path without "/dev/"
        std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
        if (mock != nullptr) {
            UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
            g_signal_connect(handler, "handle-ioctl", G_CALLBACK(MockEmulator::onIoctl), mock);
            GError* error = nullptr;
            EXPECT_TRUE(umockdev_testbed_attach_ioctl(testbed_, node, handler, &error)) << (error ? error->message : "");
            handlers_.push_back(handler);
        }
        const std::string devnumText = std::to_string(devnum);
        const std::string majorMinor = "189:" + std::to_string(devnum - 1);
        char devnumPadded[8];
        std::snprintf(devnumPadded, sizeof devnumPadded, "%03d", devnum);
        gchar* syspath = umockdev_testbed_add_device(
            testbed_, "usb", name, parent, "busnum", "1", "devnum", devnumText.c_str(), "speed", "480",
            "bConfigurationValue", "1", "dev", majorMinor.c_str(), nullptr, "DEVTYPE", "usb_device", "DEVNAME", node, "BUSNUM", "001", "DEVNUM",
            devnumPadded, nullptr);
        std::string path = syspath;
        g_free(syspath);
        createNodeFile(node);
        Bytes bytes = descriptor;
        umockdev_testbed_set_attribute_binary(testbed_, path.c_str(), "descriptors", bytes.data(),
                                              static_cast<gint>(bytes.size()));
        return path;
    }

    // umockdev routes an open of the node to the attached handler only when
    // the node exists in the testbed's /dev.
    void createNodeFile(const std::string& node) {
        const std::filesystem::path file = nodeFile(node);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream{file};
    }

    std::filesystem::path nodeFile(const std::string& node) const {
        gchar* root = umockdev_testbed_get_root_dir(testbed_);
        const std::filesystem::path file = std::filesystem::path(root) / node.substr(1);
        g_free(root);
        return file;
    }

    std::vector<std::string> listed() {
        std::vector<DeviceEntry> entries;
        EXPECT_TRUE(backend_->enumerate(entries));
        std::vector<std::string> paths;
        for (const DeviceEntry& entry : entries) {
            paths.push_back(entry.path);
        }
        return paths;
    }

    // A frame of `length` bytes with a "CHRM" head, as the link sends it.
    static Bytes frameOf(size_t length) {
        Bytes frame(length, 0x5A);
        std::copy_n("CHRM", 4, frame.begin());
        return frame;
    }

    std::filesystem::path configDir_;
    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    std::string hub_;
    std::vector<UMockdevIoctlBase*> handlers_;
    std::string emulatorSyspath_;
    MockEmulator emulator_;
    MockEmulator second_;
    std::unique_ptr<UsbBackend> backend_;
};

TEST_F(LibusbBackendTest, EnumeratesConfiguredDevicesByPortPath) {
    EXPECT_EQ(listed(), (std::vector<std::string>{"usb:1-3", "usb:1-4.2"}));

    configure("UsbIds=f055:4b56");
    EXPECT_EQ(listed(), (std::vector<std::string>{"usb:1-4.2"}));

    configure("UsbIds=");
    EXPECT_TRUE(listed().empty());
    std::filesystem::remove(configDir_ / "Zentor" / "Morvi.conf");
    EXPECT_TRUE(listed().empty());
}

TEST_F(LibusbBackendTest, DevicesAreOrderedByBusAndPortNumbersAsNumbers) {
    MockEmulator tenth;
    addDevice("1-10", root_.c_str(), 6, descriptors(kVendor, kProduct, 0x00), &tenth);
    addDevice("1-4.10", hub_.c_str(), 7, descriptors(kVendor, kProduct, 0x00), nullptr);
    EXPECT_EQ(listed(), (std::vector<std::string>{"usb:1-3", "usb:1-4.2", "usb:1-4.10", "usb:1-10"}));
}

// A device without a readable port path could never be opened: it is not
// listed, so it takes no place among the first two emulators either.
TEST_F(LibusbBackendTest, DeviceWithoutAReadablePortPathIsLeftOut) {
    addDevice("1-x", root_.c_str(), 6, descriptors(kVendor, kProduct, 0x00), nullptr);
    EXPECT_EQ(listed(), (std::vector<std::string>{"usb:1-3", "usb:1-4.2"}));

    setBackendForTesting(backend_.get());
    CTrgConnectCtrl firstTwo;
    ASSERT_EQ(firstTwo.GetUsbDeviceOne(), 1);
    EXPECT_EQ(firstTwo.GetDevNum(), 2);
    char path[64] = {};
    uint32_t needed = 0;
    ASSERT_EQ(firstTwo.GetDevicePathStr(2, path, sizeof path, &needed), 1);
    EXPECT_STREQ(path, "usb:1-4.2");
}

TEST_F(LibusbBackendTest, ShortOutTransferIsAFailedWrite) {
    setBackendForTesting(backend_.get());
    CUsbPipe pipe(kKorvoInterfaceGuid, 16384);
    ASSERT_EQ(pipe.OpenDevice("usb:1-4.2"), 1);
    ASSERT_EQ(pipe.OpenPipe(kPipeOut, 0), 1);
    const Bytes frame = frameOf(100);
    emulator_.shortenNextWrite(60);
    uint32_t written = 0;
    EXPECT_EQ(pipe.WritePipe(frame.data(), static_cast<uint32_t>(frame.size()), &written), 0);
    EXPECT_EQ(written, 60u);
}

// A write of 485 data bytes makes a frame of exactly one packet.
TEST_F(LibusbBackendTest, FramesOfWholePacketsEndWithAZeroLengthPacket) {
    setBackendForTesting(backend_.get());
    CEmuLink link("usb:1-4.2");
    ASSERT_EQ(link.isUnreachable(), 0);
    emulator_.queueAnswer({'C', 'H', 'P', 'M', 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00,
                           0x00, 0x00});
    const Bytes data(485, 0x77);
    ASSERT_EQ(link.WriteMemory(0x1000, data.data(), 485), 1) << std::hex << link.getLastError();
    const auto written = emulator_.written();
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[0].size(), kPacketSize);
    EXPECT_TRUE(written[1].empty());

    emulator_.queueAnswer({'C', 'H', 'P', 'M', 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00,
                           0x00, 0x00});
    ASSERT_EQ(link.WriteMemory(0x1000, data.data(), 100), 1) << std::hex << link.getLastError();
    EXPECT_EQ(emulator_.written().size(), 3u);  // no zero-length packet after a short one
}

// An answer of whole packets ends on its zero-length packet, which must not
// be left behind as an empty answer to the next read.
TEST_F(LibusbBackendTest, AnswerOfWholePacketsIsReadWithItsZeroLengthPacket) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    const Bytes whole = frameOf(kPacketSize);
    emulator_.queueAnswer(whole);
    emulator_.queueAnswer({1, 2, 3});
    Bytes buffer(kPacketSize);
    const TransferResult first = device->bulkTransfer(kPipeIn, buffer.data(), kPacketSize, kShortTimeoutMs);
    EXPECT_EQ(first.status, TransferStatus::Completed);
    EXPECT_EQ(first.count, kPacketSize);
    EXPECT_EQ(buffer, whole);
    const TransferResult second = device->bulkTransfer(kPipeIn, buffer.data(), kPacketSize, kShortTimeoutMs);
    EXPECT_EQ(second.count, 3u);
}

TEST_F(LibusbBackendTest, ResetThatReEnumeratesReopensTheDeviceAtItsPort) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    emulator_.reenumerateOnReset();
    bool reset = false;
    std::thread resetting([&] { reset = device->resetDevice(); });
    for (int i = 0; i < 200 && emulator_.count(USBDEVFS_RESET) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The device leaves and comes back at the same port under a new node.
    umockdev_testbed_uevent(testbed_, emulatorSyspath_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, emulatorSyspath_.c_str());
    MockEmulator reborn;
    const std::string rebornSyspath = addDevice("1-4.2", hub_.c_str(), 6, descriptors(kVendor, kProduct, 0x00), &reborn);
    umockdev_testbed_uevent(testbed_, rebornSyspath.c_str(), "add");
    resetting.join();

    EXPECT_TRUE(reset);
    EXPECT_TRUE(reborn.claimed());
    reborn.queueAnswer({4, 5});
    Bytes buffer(8);
    const TransferResult answer = device->bulkTransfer(kPipeIn, buffer.data(), 8, kShortTimeoutMs);
    EXPECT_EQ(answer.status, TransferStatus::Completed);
    EXPECT_EQ(answer.count, 2u);
    device.reset();
    EXPECT_FALSE(reborn.claimed());
}

// The text of ApiGetConnectFailureText, asked for its size first.
std::string connectFailureText() {
    uint32_t needed = 0;
    EXPECT_EQ(ApiGetConnectFailureText(nullptr, 0, &needed), 1);
    std::vector<char> text(needed, 'x');
    uint32_t again = 0;
    EXPECT_EQ(ApiGetConnectFailureText(text.data(), needed, &again), 1);
    EXPECT_EQ(again, needed);
    return needed > 0 ? std::string(text.data(), needed - 1) : std::string("(no length)");
}

// While it lives, the calling thread is held to the file modes even as
// root: the effective capabilities lose the two that override them.
class FileModesApply {
public:
    FileModesApply() {
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &header_, reduced);
    }
    ~FileModesApply() { syscall(SYS_capset, &header_, saved_); }
    FileModesApply(const FileModesApply&) = delete;
    FileModesApply& operator=(const FileModesApply&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
};

// Each way of finding no emulator names its cause: where the IDs were looked
// for, which IDs were looked for.
TEST_F(LibusbBackendTest, ConnectThatFindsNoEmulatorSaysWhy) {
    setBackendForTesting(backend_.get());
    const std::string configFile = (configDir_ / "Zentor" / "Morvi.conf").string();
    struct Case {
        const char* config;  // null: no configuration file
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"UsbIds=", {"No emulator USB IDs are configured", "UsbIds", "[Morvi]", configFile}},
        {"TrgPath=/opt/trg", {"No emulator USB IDs are configured", configFile}},
        {nullptr, {"No emulator USB IDs are configured", configFile}},
        {"UsbIds=dead:beef, 0BAD:F00D", {"No emulator with a configured USB ID (dead:beef, 0bad:f00d) is attached."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config ? c.config : "no file");
        if (c.config != nullptr) {
            configure(c.config);
        } else {
            std::filesystem::remove(configFile);
        }
        ASSERT_EQ(ApiCreateConnectOne(), 0);
        const std::string text = connectFailureText();
        for (const std::string& part : c.expected) EXPECT_NE(text.find(part), std::string::npos) << text;
    }

    configure("UsbIds=f055:4b56");
    ASSERT_EQ(ApiCreateConnectOne(), 1);
    EXPECT_EQ(connectFailureText(), "");
    ApiDelConnect();
}

TEST_F(LibusbBackendTest, DeviceNodeWithoutPermissionIsNamed) {
    configure("UsbIds=f055:4b56");
    std::filesystem::permissions(nodeFile("/dev/bus/usb/001/003"), std::filesystem::perms::none);
    setBackendForTesting(backend_.get());
    {
        const FileModesApply asUser;
        ASSERT_EQ(ApiCreateConnectOne(), 1);  // the device is listed, its object unreachable
    }
    int status = 0;
    ApiGetTargetStatus(1, &status);
    EXPECT_EQ(status, 0x5005);
    EXPECT_EQ(connectFailureText(),
              "No permission to open the emulator at usb:1-4.2 (/dev/bus/usb/001/003): a udev rule must give the "
              "user access to it (see quarnel-cli udev-rule).");
    EXPECT_FALSE(emulator_.claimed());
    ApiDelConnect();

    // Texts follow the library's convention: copied only when they fit.
    char small[8] = "unused";
    uint32_t needed = 0;
    EXPECT_EQ(ApiGetConnectFailureText(small, sizeof small, &needed), 1);
    EXPECT_GT(needed, sizeof small);
    EXPECT_STREQ(small, "unused");
}

TEST_F(LibusbBackendTest, DeviceInUseByAnotherProgramIsNamed) {
    configure("UsbIds=f055:4b56, 1234:5678");
    auto holder = backend_->open("usb:1-4.2");
    ASSERT_NE(holder, nullptr);
    setBackendForTesting(backend_.get());
    ASSERT_EQ(ApiCreateConnectOne(), 1);
    EXPECT_EQ(connectFailureText(), "The emulator at usb:1-4.2 is in use by another program.");
    ApiDelConnect();

    holder.reset();
    ASSERT_EQ(ApiCreateConnectOne(), 1);
    EXPECT_EQ(connectFailureText(), "");
    ApiDelConnect();
}

// Connects to korvo-sim emulator socket `path` as its one host.
int connectToSim(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    uint8_t greeting = 0;
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::recv(fd, &greeting, 1, 0) != 1) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

// Two mocked USB emulators bridged to korvo-sim, driven through the exports
// as the writer program does: connect, plug, erase, write 64 KiB, read back.
TEST_F(LibusbBackendTest, WholeWriteAndReadBackOverUsbBridgedToTheSimulator) {
    korvo::testing::SimProcess sim({"--trg", korvo::testing::SimProcess::sampleTrg("KT430735"), "--emulators", "2"});
    ASSERT_TRUE(sim.start());
    const int sockets[2] = {connectToSim(sim.socketPath(0)), connectToSim(sim.socketPath(1))};
    ASSERT_GE(sockets[0], 0);
    ASSERT_GE(sockets[1], 0);
    second_.bridgeTo(sockets[0]);    // usb:1-3, target 1
    emulator_.bridgeTo(sockets[1]);  // usb:1-4.2, target 2
    setPipeTimeoutsForTesting(2000, 2000);
    setBackendForTesting(backend_.get());

    ASSERT_EQ(ApiCreateConnect(), 1);
    uint32_t count = 0;
    ApiGetTargetNum(&count);
    ASSERT_EQ(count, 2u);
    TRGINFO* set = target::readTargetInfoSet({korvo::testing::SimProcess::sampleTrg("KT430735")}, 93, nullptr);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(ApiStartupTargetAll(set, "KT430735"), 1);
    for (uint32_t n = 1; n <= 2; ++n) {
        uint16_t isProtected = 1;
        ApiIsTargetProtected(n, &isProtected);
        PlugStatus plug = PlugNone;
        ApiGetTargetPlugStatus(n, &plug);
        EXPECT_EQ(plug, PlugSuccess) << n;
    }

    Bytes image(0x10000);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    EXPECT_EQ(ApiChipEraseAll(), 1);
    EXPECT_EQ(ApiFlashWriteAll(0, 0xFFFF, 0, image.data()), 1);
    for (uint32_t n = 1; n <= 2; ++n) {
        Bytes readBack(0x10000);
        uint32_t got = 0;
        EXPECT_EQ(ApiFlashRead(n, 0x10000, &got, readBack.data()), 1);
        int status = -1;
        ApiGetTargetStatus(n, &status);
        EXPECT_EQ(status, 0) << n;
        EXPECT_EQ(readBack, image) << n;
    }
    ApiDeleteTargetInfoSet(&set);
    ApiDelConnect();
    for (int fd : sockets) ::close(fd);
}

TEST_F(LibusbBackendTest, OpenClaimsInterfaceZeroExclusively) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(emulator_.claimed());
    EXPECT_EQ(backend_->open("usb:1-4.2"), nullptr);
    device.reset();
    EXPECT_FALSE(emulator_.claimed());
    EXPECT_EQ(emulator_.count(USBDEVFS_RELEASEINTERFACE), 1);

    EXPECT_EQ(backend_->open("usb:1-5"), nullptr);  // present but not configured
    EXPECT_EQ(backend_->open("usb:1-9"), nullptr);
}

TEST_F(LibusbBackendTest, WritesAndReadsFramesThroughThePipe) {
    setBackendForTesting(backend_.get());
    CUsbPipe pipe(kKorvoInterfaceGuid, 16384);
    ASSERT_EQ(pipe.OpenDevice("usb:1-4.2"), 1);
    EXPECT_EQ(emulator_.count(USBDEVFS_RESET), 1);  // opening resets the bus

    const Bytes frame{0x43, 0x48, 0x52, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x12, 0x10};
    ASSERT_EQ(pipe.OpenPipe(kPipeOut, 0), 1);
    uint32_t written = 0;
    ASSERT_EQ(pipe.WritePipe(frame.data(), static_cast<uint32_t>(frame.size()), &written), 1);
    EXPECT_EQ(written, frame.size());
    ASSERT_EQ(emulator_.written().size(), 1u);
    EXPECT_EQ(emulator_.written()[0], frame);

    const Bytes answer{0x43, 0x48, 0x50, 0x4D, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00,
                       0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    emulator_.queueAnswer(answer);
    ASSERT_EQ(pipe.OpenPipe(kPipeIn, 0), 1);
    Bytes buffer(4096);
    uint32_t read = 0;
    ASSERT_EQ(pipe.ReadPipe(buffer.data(), 4096, &read), 1);
    ASSERT_EQ(read, answer.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + read), answer);
}

TEST_F(LibusbBackendTest, SilentDeviceTimesOutAndTheRequestIsDiscarded) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    Bytes buffer(64);
    const auto start = std::chrono::steady_clock::now();
    const TransferResult result = device->bulkTransfer(kPipeIn, buffer.data(), 64, kShortTimeoutMs);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.status, TransferStatus::TimedOut);
    EXPECT_EQ(result.count, 0u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(kShortTimeoutMs));
    EXPECT_GE(emulator_.count(USBDEVFS_DISCARDURB), 1);

    // The abandoned request must not swallow the next answer.
    emulator_.queueAnswer({1, 2, 3});
    const TransferResult next = device->bulkTransfer(kPipeIn, buffer.data(), 64, kShortTimeoutMs);
    EXPECT_EQ(next.status, TransferStatus::Completed);
    EXPECT_EQ(next.count, 3u);
}

TEST_F(LibusbBackendTest, StalledReadAndClearHalt) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    emulator_.stallNextRead();
    Bytes buffer(64);
    EXPECT_EQ(device->bulkTransfer(kPipeIn, buffer.data(), 64, kShortTimeoutMs).status, TransferStatus::Stalled);
    ASSERT_TRUE(device->clearHalt(kPipeIn));
    ASSERT_TRUE(device->clearHalt(kPipeOut));
    EXPECT_EQ(emulator_.clearedEndpoints(), (std::vector<unsigned>{0x82, 0x01}));
}

TEST_F(LibusbBackendTest, ResetKeepsTheInterfaceClaimed) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->resetDevice());
    EXPECT_EQ(emulator_.count(USBDEVFS_RESET), 1);
    EXPECT_EQ(emulator_.count(USBDEVFS_DISCONNECT_CLAIM), 1);  // claimed again after the reset
    EXPECT_TRUE(emulator_.claimed());
    emulator_.queueAnswer({9});
    Bytes buffer(8);
    EXPECT_EQ(device->bulkTransfer(kPipeIn, buffer.data(), 8, kShortTimeoutMs).count, 1u);
}

TEST_F(LibusbBackendTest, ControlRequestsCarryTheMappedRequestType) {
    setBackendForTesting(backend_.get());
    CUsbPipe pipe(kKorvoInterfaceGuid, 16384);
    ASSERT_EQ(pipe.OpenDevice("usb:1-4.2"), 1);
    uint8_t buffer[16] = {0xAA, 0xBB};
    uint16_t returned = 0;
    ASSERT_EQ(pipe.RequestControl(REQ_VENDOR, DIRECT_OUT, DEST_DEVICE, 0x33, 0x0102, 0x0304, 2, buffer, &returned), 1);
    ASSERT_EQ(pipe.OpenPipe(kPipeIn, 0), 1);
    ASSERT_EQ(pipe.ClrFeature(kPipeIn), 1);
    const auto setups = emulator_.controlSetups();
    ASSERT_EQ(setups.size(), 2u);
    EXPECT_EQ(setups[0], (Bytes{0x40, 0x33, 0x02, 0x01, 0x04, 0x03, 0x02, 0x00}));
    EXPECT_EQ(setups[1], (Bytes{0x02, 0x01, 0x00, 0x00, 0x82, 0x00, 0x00, 0x00}));  // CLEAR_FEATURE(halt) on 0x82
    EXPECT_EQ(emulator_.clearedEndpoints(), (std::vector<unsigned>{0x82}));
}

TEST_F(LibusbBackendTest, UnpluggedDeviceFailsAndDisappears) {
    auto device = backend_->open("usb:1-4.2");
    ASSERT_NE(device, nullptr);
    emulator_.unplug();
    umockdev_testbed_uevent(testbed_, emulatorSyspath_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, emulatorSyspath_.c_str());

    Bytes buffer(8);
    EXPECT_EQ(device->bulkTransfer(kPipeOut, buffer.data(), 8, kShortTimeoutMs).status, TransferStatus::NoDevice);
    device.reset();
    EXPECT_EQ(backend_->open("usb:1-4.2"), nullptr);

    std::vector<std::string> paths = listed();
    for (int i = 0; i < 100 && paths.size() != 1; ++i) {  // the removal arrives as a hot-plug event
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        paths = listed();
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"usb:1-3"}));
}

}  // namespace
}  // namespace vestra::usb
