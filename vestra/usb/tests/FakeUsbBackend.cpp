#include "usb/tests/FakeUsbBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "usb/UsbPipe.h"

namespace vestra::usb::testing {

FakeTransfer FakeTransfer::answer(Bytes message, bool atOnce) {
    FakeTransfer step;
    step.data = std::move(message);
    step.atOnce = atOnce;
    return step;
}

FakeTransfer FakeTransfer::accept(std::optional<uint32_t> count, bool atOnce) {
    FakeTransfer step;
    step.count = count;
    step.atOnce = atOnce;
    return step;
}

FakeTransfer FakeTransfer::expect(Bytes bytes) {
    FakeTransfer step;
    step.expected = std::move(bytes);
    return step;
}

namespace {

FakeTransfer failing(TransferStatus status) {
    FakeTransfer step;
    step.status = status;
    return step;
}

std::atomic<uint64_t> g_eventCount{0};

FakeEvent eventOf(FakeEvent::Kind kind, int pipe = -1) {
    FakeEvent event;
    event.kind = kind;
    event.pipe = pipe;
    return event;
}

}  // namespace

FakeTransfer FakeTransfer::timeout() { return failing(TransferStatus::TimedOut); }
FakeTransfer FakeTransfer::stall() { return failing(TransferStatus::Stalled); }
FakeTransfer FakeTransfer::error() { return failing(TransferStatus::Failed); }
FakeTransfer FakeTransfer::gone() { return failing(TransferStatus::NoDevice); }

// ---------------------------------------------------------------------------

// One open of a FakeUsbDevice; closing it frees the device for the next open.
class FakeDeviceHandle final : public UsbDevice {
public:
    explicit FakeDeviceHandle(std::shared_ptr<FakeUsbDevice> device) : device_(std::move(device)) {}
    ~FakeDeviceHandle() override {
        std::lock_guard lock(device_->mutex_);
        device_->open_ = false;
        device_->record(eventOf(FakeEvent::Kind::Close));
    }
    FakeDeviceHandle(const FakeDeviceHandle&) = delete;
    FakeDeviceHandle& operator=(const FakeDeviceHandle&) = delete;

    TransferResult bulkTransfer(int pipe, uint8_t* data, uint32_t length, uint32_t timeoutMs) override {
        if (pipe == kPipeOut) {
            return device_->write(data, length, timeoutMs);
        }
        if (pipe == kPipeIn) {
            return device_->read(data, length, timeoutMs);
        }
        return {TransferStatus::Failed, 0, false};
    }

    bool controlTransfer(const ControlSetup& setup, uint8_t* data, uint16_t length, uint16_t* transferred,
                         uint32_t timeoutMs) override {
        std::lock_guard lock(device_->mutex_);
        FakeEvent event = eventOf(FakeEvent::Kind::Control);
        event.setup = setup;
        event.length = length;
        event.timeoutMs = timeoutMs;
        const bool deviceToHost = (setup.requestType & 0x80) != 0;
        if (!deviceToHost && data != nullptr) {
            event.data.assign(data, data + length);
        }
        const bool ok = device_->controlOk_ && !device_->unplugged_;
        uint16_t count = 0;
        if (ok && deviceToHost) {
            count = static_cast<uint16_t>(std::min<size_t>(length, device_->controlAnswer_.size()));
            std::copy_n(device_->controlAnswer_.begin(), count, data);
        } else if (ok) {
            count = length;
        }
        *transferred = count;
        event.status = ok ? TransferStatus::Completed : TransferStatus::Failed;
        device_->record(std::move(event));
        return ok;
    }

    bool resetDevice() override {
        std::lock_guard lock(device_->mutex_);
        device_->record(eventOf(FakeEvent::Kind::Reset));
        const bool ok = device_->resetOk_ && !device_->unplugged_;
        if (ok && device_->peer_ != nullptr) {
            std::erase_if(device_->reads_, [](const FakeTransfer& step) { return step.lateMs == 0; });
            device_->peer_->connected();
        }
        return ok;
    }

    bool clearHalt(int pipe) override {
        std::lock_guard lock(device_->mutex_);
        FakeEvent event = eventOf(FakeEvent::Kind::ClearHalt, pipe);
        device_->record(std::move(event));
        return !device_->unplugged_;
    }

private:
    std::shared_ptr<FakeUsbDevice> device_;
};

// ---------------------------------------------------------------------------

FakeUsbDevice::FakeUsbDevice(std::string path) : path_(std::move(path)) {}

void FakeUsbDevice::queueWrite(FakeTransfer step) {
    std::lock_guard lock(mutex_);
    writes_.push_back(std::move(step));
}

void FakeUsbDevice::queueRead(FakeTransfer step) {
    std::lock_guard lock(mutex_);
    reads_.push_back(std::move(step));
}

void FakeUsbDevice::queueAnswer(Bytes message, bool atOnce) {
    queueRead(FakeTransfer::answer(std::move(message), atOnce));
}

void FakeUsbDevice::setResponder(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

void FakeUsbDevice::attach(FakePeer* peer) {
    std::lock_guard lock(mutex_);
    peer_ = peer;
}

void FakeUsbDevice::failOpens(int count) {
    std::lock_guard lock(mutex_);
    failingOpens_ = count;
}

void FakeUsbDevice::setUnplugged(bool unplugged) {
    std::lock_guard lock(mutex_);
    unplugged_ = unplugged;
}

void FakeUsbDevice::setResetResult(bool ok) {
    std::lock_guard lock(mutex_);
    resetOk_ = ok;
}

void FakeUsbDevice::setControlResult(bool ok, Bytes answer) {
    std::lock_guard lock(mutex_);
    controlOk_ = ok;
    controlAnswer_ = std::move(answer);
}

std::vector<FakeEvent> FakeUsbDevice::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<FakeEvent> FakeUsbDevice::events(FakeEvent::Kind kind) const {
    std::vector<FakeEvent> selected;
    for (FakeEvent& event : events()) {
        if (event.kind == kind) {
            selected.push_back(std::move(event));
        }
    }
    return selected;
}

std::vector<Bytes> FakeUsbDevice::writtenFrames() const {
    std::vector<Bytes> frames;
    for (const FakeEvent& event : events(FakeEvent::Kind::Write)) {
        if (event.status == TransferStatus::Completed) {
            frames.push_back(event.data);
        }
    }
    return frames;
}

size_t FakeUsbDevice::queuedAnswers() const {
    std::lock_guard lock(mutex_);
    return reads_.size();
}

bool FakeUsbDevice::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void FakeUsbDevice::clearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

void FakeUsbDevice::record(FakeEvent event) {
    event.order = g_eventCount++;
    events_.push_back(std::move(event));
}

FakeTransfer FakeUsbDevice::nextStep(std::vector<FakeTransfer>& queue, FakeTransfer fallback) {
    if (unplugged_) {
        return FakeTransfer::gone();
    }
    if (queue.empty()) {
        return fallback;
    }
    FakeTransfer step = queue.front();
    queue.erase(queue.begin());
    return step;
}

TransferResult FakeUsbDevice::write(const uint8_t* data, uint32_t length, uint32_t timeoutMs) {
    std::lock_guard lock(mutex_);
    const FakeTransfer step = nextStep(writes_, FakeTransfer::accept());
    FakeEvent event = eventOf(FakeEvent::Kind::Write, kPipeOut);
    event.data.assign(data, data + length);
    event.length = length;
    event.timeoutMs = timeoutMs;
    event.status = step.status;
    if (step.expected) {
        EXPECT_EQ(*step.expected, event.data) << "unexpected bytes written to " << path_;
    }
    if (step.status != TransferStatus::Completed) {
        record(std::move(event));
        return {step.status, 0, false};
    }
    const uint32_t count = std::min(step.count.value_or(length), length);
    event.data.resize(count);
    if (responder_) {
        for (Bytes& message : responder_(event.data)) {
            reads_.push_back(FakeTransfer::answer(std::move(message)));
        }
    }
    if (peer_ != nullptr) {
        for (FakeTransfer& step : peer_->frameWritten(event.data)) {
            reads_.push_back(std::move(step));
        }
    }
    record(std::move(event));
    return {TransferStatus::Completed, count, step.atOnce};
}

TransferResult FakeUsbDevice::read(uint8_t* data, uint32_t length, uint32_t timeoutMs) {
    std::lock_guard lock(mutex_);
    // The read waits its time-out for a late answer, which is then that much less late.
    const bool late = !unplugged_ && !reads_.empty() && reads_.front().lateMs > timeoutMs;
    if (late) {
        reads_.front().lateMs -= timeoutMs;
    }
    FakeTransfer step = late ? FakeTransfer::timeout() : nextStep(reads_, FakeTransfer::timeout());
    const uint32_t count = step.count.value_or(static_cast<uint32_t>(step.data.size()));
    if (step.status == TransferStatus::Completed && (count > length || count > step.data.size())) {
        step.status = TransferStatus::Failed;
    }
    FakeEvent event = eventOf(FakeEvent::Kind::Read, kPipeIn);
    event.length = length;
    event.timeoutMs = timeoutMs;
    event.status = step.status;
    if (step.status != TransferStatus::Completed) {
        record(std::move(event));
        return {step.status, 0, false};
    }
    std::copy_n(step.data.begin(), count, data);
    event.data.assign(step.data.begin(), step.data.begin() + count);
    record(std::move(event));
    return {TransferStatus::Completed, count, step.atOnce};
}

// ---------------------------------------------------------------------------

FakeUsbBackend::FakeUsbBackend() {
    setBackendForTesting(this);
}

FakeUsbBackend::~FakeUsbBackend() {
    setBackendForTesting(nullptr);
}

FakeUsbDevice& FakeUsbBackend::addDevice(const std::string& path) {
    entries_.push_back({std::make_shared<FakeUsbDevice>(path)});
    return *entries_.back().device;
}

void FakeUsbBackend::addUnreadableEntry() {
    entries_.push_back({nullptr});
}

FakeUsbDevice& FakeUsbBackend::device(const std::string& path) {
    for (Entry& entry : entries_) {
        if (entry.device && entry.device->path() == path) {
            return *entry.device;
        }
    }
    ADD_FAILURE() << "no fake device " << path;
    return addDevice(path);
}

void FakeUsbBackend::unplug(const std::string& path) {
    device(path).setUnplugged(true);
}

void FakeUsbBackend::setEnumerateFails(bool fails) {
    enumerateFails_ = fails;
}

bool FakeUsbBackend::enumerate(std::vector<DeviceEntry>& devices) {
    if (enumerateFails_) {
        return false;
    }
    for (const Entry& entry : entries_) {
        if (!entry.device) {
            devices.push_back({"", false});
        } else if (std::lock_guard lock(entry.device->mutex_); !entry.device->unplugged_) {
            devices.push_back({entry.device->path(), true});
        }
    }
    return true;
}

std::unique_ptr<UsbDevice> FakeUsbBackend::open(const std::string& path) {
    for (const Entry& entry : entries_) {
        if (!entry.device || entry.device->path() != path) {
            continue;
        }
        FakeUsbDevice& device = *entry.device;
        std::lock_guard lock(device.mutex_);
        const bool refused = device.unplugged_ || device.open_ || device.failingOpens_ != 0;
        if (device.failingOpens_ > 0) {
            --device.failingOpens_;
        }
        device.record(eventOf(refused ? FakeEvent::Kind::OpenRefused : FakeEvent::Kind::Open));
        if (refused) {
            return nullptr;
        }
        device.open_ = true;
        if (device.peer_ != nullptr) {
            device.peer_->connected();
        }
        return std::make_unique<FakeDeviceHandle>(entry.device);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------

ScopedPipeTimeouts::ScopedPipeTimeouts(uint32_t writeMs, uint32_t readMs) {
    setPipeTimeoutsForTesting(writeMs, readMs);
}

ScopedPipeTimeouts::~ScopedPipeTimeouts() {
    resetPipeTimeoutsForTesting();
}

}  // namespace vestra::usb::testing
