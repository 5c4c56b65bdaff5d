#include "usb/UsbPipe.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "usb/UsbBackend.h"

using vestra::usb::ControlSetup;
using vestra::usb::TransferResult;
using vestra::usb::TransferStatus;
using vestra::usb::UsbDevice;

namespace vestra::usb {
namespace {

std::atomic<uint32_t> g_writeTimeoutMs{kWriteTimeoutMs};
std::atomic<uint32_t> g_readTimeoutMs{kReadTimeoutMs};

}  // namespace

void setPipeTimeoutsForTesting(uint32_t writeMs, uint32_t readMs) {
    g_writeTimeoutMs = writeMs;
    g_readTimeoutMs = readMs;
}

void resetPipeTimeoutsForTesting() {
    setPipeTimeoutsForTesting(kWriteTimeoutMs, kReadTimeoutMs);
}

uint8_t endpointAddress(int pipeIndex) {
    switch (pipeIndex) {
    case kPipeOut: return 0x01;
    case kPipeIn: return 0x82;
    default: return 0;
    }
}

}  // namespace vestra::usb

namespace {

using vestra::usb::endpointAddress;

constexpr uint32_t kPacketSize = 512;
constexpr uint16_t kDescriptorBufferSize = 512;
constexpr size_t kControlHeaderSize = 7;
constexpr uint16_t kControlAnswerSize = 4;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kClearFeature = 0x01;
constexpr uint16_t kEndpointHalt = 0x00;
constexpr uint8_t kConfigurationDescriptor = 0x02;

// bmRequestType bits of a control request.
constexpr uint8_t kDeviceToHost = 0x80;
constexpr uint8_t kTypeClass = 0x20;
constexpr uint8_t kTypeVendor = 0x40;
constexpr uint8_t kRecipientDevice = 0x00;
constexpr uint8_t kRecipientInterface = 0x01;
constexpr uint8_t kRecipientEndpoint = 0x02;

// The driver's eight control-request codes and the USB request type each one
// stands for: REQ_TYPE picks class (0) or vendor (1), DIRECT_TYPE device to
// host (0) or host to device (1), DEST_TYPE the device (0) or the interface (1).
// Any combination outside this table is refused.
struct ControlCode {
    int reqType;
    int directType;
    int destType;
    uint32_t code;
    uint8_t requestType;
};

constexpr std::array<ControlCode, 8> kControlCodes = {{
    {0, 0, 0, 0x220014, kTypeClass | kDeviceToHost | kRecipientDevice},
    {0, 0, 1, 0x220024, kTypeClass | kDeviceToHost | kRecipientInterface},
    {0, 1, 0, 0x220010, kTypeClass | kRecipientDevice},
    {0, 1, 1, 0x220020, kTypeClass | kRecipientInterface},
    {1, 0, 0, 0x22001c, kTypeVendor | kDeviceToHost | kRecipientDevice},
    {1, 0, 1, 0x22002c, kTypeVendor | kDeviceToHost | kRecipientInterface},
    {1, 1, 0, 0x220018, kTypeVendor | kRecipientDevice},
    {1, 1, 1, 0x220028, kTypeVendor | kRecipientInterface},
}};

const ControlCode* findControlCode(int reqType, int directType, int destType) {
    for (const ControlCode& entry : kControlCodes) {
        if (entry.reqType == reqType && entry.directType == directType && entry.destType == destType) {
            return &entry;
        }
    }
    return nullptr;
}

void putLittleEndian16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

void copyName(char (&target)[256], const char* source) {
    std::snprintf(target, sizeof target, "%s", source != nullptr ? source : "");
}

enum class ChunkOutcome { Moved, EndOfData, Failed };

}  // namespace

CUsbPipe::CUsbPipe() = default;

CUsbPipe::CUsbPipe(const UsbGuid& guid, uint32_t maximumTransferSize)
    : guid_(guid), maximumTransferSize_(maximumTransferSize) {}

CUsbPipe::~CUsbPipe() {
    CloseDevice();
}

const UsbGuid& CUsbPipe::SetGuid(const UsbGuid& guid) {
    guid_ = guid;
    return guid_;
}

const UsbGuid& CUsbPipe::GetCurrentGuid() const {
    return guid_;
}

const char* CUsbPipe::GetCompleteDeviceName() const {
    return deviceName_;
}

const char* CUsbPipe::GetCompletePipeName() const {
    return pipeName_;
}

uint32_t CUsbPipe::SetMaximumTransferSize(uint32_t size) {
    const uint32_t previous = maximumTransferSize_;
    maximumTransferSize_ = size;
    return previous;
}

uint32_t CUsbPipe::GetMaximumTransferSize() const {
    return maximumTransferSize_;
}

uint32_t CUsbPipe::GetMaxPacketSize() const {
    return maximumPacketSize_;
}

bool CUsbPipe::isDeviceOpen() const {
    return device_ != nullptr;
}

bool CUsbPipe::isPipeOpen() const {
    return pipe_ != kNoPipe;
}

int CUsbPipe::OpenDevice(const char* path) {
    const std::string requested = path != nullptr ? path : "";  // path may point into deviceName_
    CloseDevice();
    copyName(deviceName_, requested.c_str());
    device_ = OpenUsbDevice(deviceName_);
    if (!device_) {
        return 0;
    }
    BusReset();
    AnalyzeDeviceDescriptor();
    return 1;
}

int CUsbPipe::CloseDevice() {
    device_.reset();
    return 1;
}

std::unique_ptr<UsbDevice> CUsbPipe::OpenUsbDevice(const char* path) {
    return OpenOneDevice(path);
}

std::unique_ptr<UsbDevice> CUsbPipe::OpenOneDevice(const char* path) {
    return vestra::usb::currentBackend().open(path);
}

void CUsbPipe::AnalyzeDeviceDescriptor() {
    maximumPacketSize_ = kPacketSize;
}

void CUsbPipe::AnalyzeEndPointDescriptor(int /*pipeIndex*/) {
    maximumPacketSize_ = kPacketSize;
}

int CUsbPipe::OpenPipe(int pipeIndex, int /*reserved*/) {
    ClosePipe();
    if (!device_ && OpenDevice(deviceName_) == 0) {
        return 0;
    }
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "\\PIPE%02d", pipeIndex);
    copyName(pipeName_, (std::string(deviceName_) + suffix).c_str());
    // Only the two bulk endpoints exist behind the seam.
    if (endpointAddress(pipeIndex) == 0) {
        CloseDevice();
        return 0;
    }
    pipe_ = pipeIndex;
    AnalyzeEndPointDescriptor(pipeIndex);
    return 1;
}

int CUsbPipe::ClosePipe() {
    pipe_ = kNoPipe;
    return 1;
}

// The seam's transfers cancel their own request before they report a
// time-out, so nothing is left pending here.
int CUsbPipe::TimeoutProc(void* /*handle*/) {
    return 1;
}

int CUsbPipe::WritePipe(const void* data, uint32_t length, uint32_t* written) {
    // The backend only reads from an OUT buffer.
    return transfer(Direction::Write, static_cast<uint8_t*>(const_cast<void*>(data)), length, written);
}

int CUsbPipe::ReadPipe(void* buffer, uint32_t length, uint32_t* read) {
    return transfer(Direction::Read, static_cast<uint8_t*>(buffer), length, read);
}

// Moves `length` bytes as full chunks of the maximum transfer size and then
// the remainder. A chunk that completes at once must be complete; for a read,
// a short one marks the end of the data instead. A hard error in the
// remainder (not a time-out) closes the pipe and the device.
int CUsbPipe::transfer(Direction direction, uint8_t* data, uint32_t length, uint32_t* moved) {
    const bool reading = direction == Direction::Read;
    timeoutMs_ = reading ? vestra::usb::g_readTimeoutMs.load() : vestra::usb::g_writeTimeoutMs.load();
    uint32_t count = 0;
    if (moved != nullptr) {
        *moved = 0;
    }
    if (maximumTransferSize_ == 0) {
        return 0;
    }

    auto moveChunk = [&](uint32_t size, bool remainder) {
        if (!device_ || pipe_ == kNoPipe) {
            return ChunkOutcome::Failed;
        }
        const TransferResult result = device_->bulkTransfer(pipe_, data + count, size, timeoutMs_);
        switch (result.status) {
        case TransferStatus::Completed:
            count += result.count;
            if (!result.completedAtOnce || result.count == size) {
                return ChunkOutcome::Moved;
            }
            return reading ? ChunkOutcome::EndOfData : ChunkOutcome::Failed;
        case TransferStatus::TimedOut:
            TimeoutProc(nullptr);
            return ChunkOutcome::Failed;
        default:
            if (remainder) {
                ClosePipe();
                CloseDevice();
            }
            return ChunkOutcome::Failed;
        }
    };

    const uint32_t fullChunks = length / maximumTransferSize_;
    const uint32_t remainder = length % maximumTransferSize_;
    ChunkOutcome outcome = ChunkOutcome::Moved;
    for (uint32_t i = 0; i < fullChunks && outcome == ChunkOutcome::Moved; ++i) {
        outcome = moveChunk(maximumTransferSize_, false);
    }
    if (remainder != 0 && outcome == ChunkOutcome::Moved) {
        outcome = moveChunk(remainder, true);
    }
    if (moved != nullptr) {
        *moved = count;
    }
    return outcome == ChunkOutcome::Failed ? 0 : 1;
}

bool CUsbPipe::ensureDeviceOpen() {
    if (!device_) {
        OpenDevice(deviceName_);
    }
    return device_ != nullptr;
}

int CUsbPipe::BusReset() {
    if (!ensureDeviceOpen()) {
        return 0;
    }
    return device_->resetDevice() ? 1 : 0;
}

int CUsbPipe::ClrFeature(uint16_t pipeIndex) {
    if (!ensureDeviceOpen()) {
        return 0;
    }
    const uint8_t endpoint = endpointAddress(pipeIndex);
    if (endpoint == 0) {
        return 0;
    }
    const ControlSetup clearHalt{kRecipientEndpoint, kClearFeature, kEndpointHalt, endpoint};
    uint16_t ignored = 0;
    device_->controlTransfer(clearHalt, nullptr, 0, &ignored, vestra::usb::g_writeTimeoutMs);
    return resetOpenPipe(pipeIndex);
}

int CUsbPipe::resetPipe(uint16_t pipeIndex) {
    if (!ensureDeviceOpen()) {
        return 0;
    }
    return resetOpenPipe(pipeIndex);
}

// The pipe reset goes through the open pipe, as the driver's request does.
int CUsbPipe::resetOpenPipe(uint16_t pipeIndex) {
    if (pipe_ == kNoPipe || endpointAddress(pipeIndex) == 0) {
        return 0;
    }
    return device_->clearHalt(pipeIndex) ? 1 : 0;
}

int CUsbPipe::GetConfigDesc(void* buffer, uint16_t size, uint16_t* returned) {
    if (!ensureDeviceOpen()) {
        return 0;
    }
    const ControlSetup setup{kDeviceToHost, kGetDescriptor, static_cast<uint16_t>(kConfigurationDescriptor << 8), 0};
    uint16_t count = 0;
    const bool ok = device_->controlTransfer(setup, static_cast<uint8_t*>(buffer), size, &count,
                                             vestra::usb::g_readTimeoutMs);
    if (returned != nullptr) {
        *returned = count;
    }
    return ok ? 1 : 0;
}

int CUsbPipe::GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, void* buffer, uint16_t size,
                            uint16_t* returned) {
    if (!ensureDeviceOpen()) {
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    bytes[0] = type;
    bytes[1] = index;
    putLittleEndian16(bytes + 2, languageId);
    putLittleEndian16(bytes + 4, size);
    // The answer replaces the request in the caller's 512-byte buffer.
    const ControlSetup setup{kDeviceToHost, kGetDescriptor, static_cast<uint16_t>(type << 8 | index), languageId};
    const uint16_t wanted = size < kDescriptorBufferSize ? size : kDescriptorBufferSize;
    uint16_t count = 0;
    const bool ok = device_->controlTransfer(setup, bytes, wanted, &count, vestra::usb::g_readTimeoutMs);
    if (returned != nullptr) {
        *returned = count;
    }
    return ok ? 1 : 0;
}

int CUsbPipe::RequestControl(REQ_TYPE reqType, DIRECT_TYPE directType, DEST_TYPE destType, uint8_t request,
                             uint16_t value, uint16_t index, uint16_t length, void* buffer, uint16_t* returned) {
    if (!ensureDeviceOpen()) {
        CloseDevice();
        if (!ensureDeviceOpen()) {
            return 0;
        }
    }
    const ControlCode* code = findControlCode(reqType, directType, destType);
    if (code == nullptr) {
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    std::memmove(bytes + kControlHeaderSize, bytes, length);
    bytes[0] = request;
    putLittleEndian16(bytes + 1, value);
    putLittleEndian16(bytes + 3, index);
    putLittleEndian16(bytes + 5, length);

    // Data of a host-to-device request goes out from behind the header; the
    // answer of a device-to-host request replaces the buffer's first bytes
    // and is at most kControlAnswerSize long.
    const bool answers = (code->requestType & kDeviceToHost) != 0;
    uint8_t* data = answers ? bytes : bytes + kControlHeaderSize;
    const uint16_t size = answers ? std::min<uint16_t>(length, kControlAnswerSize) : length;
    const ControlSetup setup{code->requestType, request, value, index};
    uint16_t count = 0;
    const bool ok = device_->controlTransfer(setup, data, size, &count, vestra::usb::g_writeTimeoutMs);
    if (returned != nullptr) {
        *returned = count;
    }
    if (!ok) {
        CloseDevice();
    }
    return ok ? 1 : 0;
}
