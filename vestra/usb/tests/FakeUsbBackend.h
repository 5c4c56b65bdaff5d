// In-process scripted USB backend for unit tests (library target
// vestra_fake_usb). Nothing waits: a time-out is reported at once.
//
// Typical use:
//
//   vestra::usb::testing::FakeUsbBackend backend;            // installed while it lives
//   auto& emulator = backend.addDevice("usb:1-1");
//
//   // Scripted steps, consumed in order, one per bulk transfer of a pipe:
//   emulator.queueWrite(FakeTransfer::timeout());            // next pipe-0 write times out
//   emulator.queueAnswer({0x43, 0x48, 0x50, 0x4D, ...});     // next pipe-1 read gets this message
//   emulator.queueRead(FakeTransfer::stall());               // the read after that stalls
//
//   // Responder mode: every frame written to pipe 0 is handed to the
//   // callback; the messages it returns are queued for pipe 1 (after any
//   // answers already queued). Do not call back into the fake from it.
//   emulator.setResponder([](const std::vector<uint8_t>& frame) {
//       return std::vector<std::vector<uint8_t>>{answerFor(frame)};
//   });
//
//   // Peer mode: a device model (FakePeer) answers instead of a responder
//   // and hears of every open and bus reset, as EmulatorDevice.h does.
//
//   // Checking what happened:
//   emulator.writtenFrames();   // bytes of every completed pipe-0 write
//   emulator.events();          // every open, close, reset, clear-halt, control and transfer
//
// Defaults when nothing is scripted: a write takes all bytes; a read with no
// answer queued times out (a silent emulator). An answer longer than the read
// fails the read (an overflow, as libusb reports it). An unplugged device is
// not listed, cannot be opened, and fails every operation on handles still open
// with TransferStatus::NoDevice. Devices are opened exclusively: a second open
// while a handle is alive fails.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "usb/UsbBackend.h"

namespace vestra::usb::testing {

using Bytes = std::vector<uint8_t>;
using Responder = std::function<std::vector<Bytes>(const Bytes& outFrame)>;

// The scripted outcome of one bulk transfer.
struct FakeTransfer {
    TransferStatus status = TransferStatus::Completed;
    Bytes data;                     // read: the message delivered
    std::optional<uint32_t> count;  // write: bytes taken (default all); read: bytes delivered (default data.size())
    bool atOnce = false;            // TransferResult::completedAtOnce
    uint32_t lateMs = 0;            // read: a read with a shorter time-out times out, and the wait goes on
    std::optional<Bytes> expected;  // write: the bytes that must be written (a mismatch is a test failure)

    static FakeTransfer answer(Bytes message, bool atOnce = false);
    static FakeTransfer accept(std::optional<uint32_t> count = std::nullopt, bool atOnce = false);
    static FakeTransfer expect(Bytes bytes);
    static FakeTransfer timeout();
    static FakeTransfer stall();
    static FakeTransfer error();
    static FakeTransfer gone();
};

struct FakeEvent {
    enum class Kind { Open, OpenRefused, Close, Reset, ClearHalt, Control, Write, Read };
    Kind kind = Kind::Open;
    int pipe = -1;               // transfers and clear-halt
    Bytes data;                  // write: the bytes offered; read: the bytes delivered
    uint32_t length = 0;         // requested transfer length
    uint32_t timeoutMs = 0;      // transfers and control requests
    TransferStatus status = TransferStatus::Completed;
    ControlSetup setup{};        // control requests
    uint64_t order = 0;          // place among the events of every fake device
};

// A device model behind a FakeUsbDevice. The read steps it returns for a
// frame written to pipe 0 are queued for pipe 1. An open or a bus reset is a
// new connection; a bus reset discards the answers that have come and not
// been read (late ones still come). Called with the device locked: it must
// not call back into the fake.
class FakePeer {
public:
    virtual ~FakePeer() = default;
    virtual std::vector<FakeTransfer> frameWritten(const Bytes& frame) = 0;
    virtual void connected() = 0;
};

class FakeUsbDevice {
public:
    explicit FakeUsbDevice(std::string path);

    const std::string& path() const { return path_; }

    void queueWrite(FakeTransfer step);
    void queueRead(FakeTransfer step);
    void queueAnswer(Bytes message, bool atOnce = false);
    void setResponder(Responder responder);
    void attach(FakePeer* peer);  // null: detach

    void failOpens(int count);           // the next `count` opens fail; -1: every open
    void setUnplugged(bool unplugged);
    void setResetResult(bool ok);
    // Result of control requests; an IN request receives `answer` (cut to its length).
    void setControlResult(bool ok, Bytes answer = {});

    std::vector<FakeEvent> events() const;
    std::vector<FakeEvent> events(FakeEvent::Kind kind) const;
    std::vector<Bytes> writtenFrames() const;
    size_t queuedAnswers() const;
    bool isOpen() const;
    void clearEvents();

private:
    friend class FakeDeviceHandle;
    friend class FakeUsbBackend;

    TransferResult write(const uint8_t* data, uint32_t length, uint32_t timeoutMs);
    TransferResult read(uint8_t* data, uint32_t length, uint32_t timeoutMs);
    FakeTransfer nextStep(std::vector<FakeTransfer>& queue, FakeTransfer fallback);
    void record(FakeEvent event);

    const std::string path_;
    mutable std::mutex mutex_;
    std::vector<FakeTransfer> writes_;
    std::vector<FakeTransfer> reads_;
    Responder responder_;
    FakePeer* peer_ = nullptr;
    std::vector<FakeEvent> events_;
    int failingOpens_ = 0;
    bool unplugged_ = false;
    bool resetOk_ = true;
    bool controlOk_ = true;
    Bytes controlAnswer_;
    bool open_ = false;
};

// Installs itself as the current backend (setBackendForTesting) for its
// lifetime. Devices are listed in the order they were added.
class FakeUsbBackend final : public UsbBackend {
public:
    FakeUsbBackend();
    ~FakeUsbBackend() override;
    FakeUsbBackend(const FakeUsbBackend&) = delete;
    FakeUsbBackend& operator=(const FakeUsbBackend&) = delete;

    FakeUsbDevice& addDevice(const std::string& path);
    // An interface whose path cannot be read (listed as unreadable).
    void addUnreadableEntry();
    FakeUsbDevice& device(const std::string& path);
    void unplug(const std::string& path);
    void setEnumerateFails(bool fails);

    bool enumerate(std::vector<DeviceEntry>& devices) override;
    std::unique_ptr<UsbDevice> open(const std::string& path) override;

private:
    struct Entry {
        std::shared_ptr<FakeUsbDevice> device;  // null for an unreadable entry
    };
    std::vector<Entry> entries_;
    bool enumerateFails_ = false;
};

// Shortens CUsbPipe's write and read time-outs for its lifetime.
class ScopedPipeTimeouts {
public:
    ScopedPipeTimeouts(uint32_t writeMs, uint32_t readMs);
    ~ScopedPipeTimeouts();
    ScopedPipeTimeouts(const ScopedPipeTimeouts&) = delete;
    ScopedPipeTimeouts& operator=(const ScopedPipeTimeouts&) = delete;
};

}  // namespace vestra::usb::testing
