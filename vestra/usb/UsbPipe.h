// CUsbPipe: the device handle of one KORVO emulator and at most one open bulk
// pipe on it. Moves raw bytes with time-outs and offers the driver's control
// operations; knows nothing of frames. Reaches the hardware only through the
// UsbBackend seam (usb/UsbBackend.h).
#pragma once

#include <cstdint>
#include <memory>

#include "vestra.h"

namespace vestra::usb {
class UsbDevice;
}

// 16-byte interface class identifier in the usual 4-2-2-8 layout.
struct UsbGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];

    friend bool operator==(const UsbGuid&, const UsbGuid&) = default;
};
static_assert(sizeof(UsbGuid) == 16);

// Device interface class of the emulator driver, {11F435A5-04F4-4F7C-B94B-4F3D7D3B574C}.
inline constexpr UsbGuid kKorvoInterfaceGuid = {0x11F435A5, 0x04F4, 0x4F7C, {0xB9, 0x4B, 0x4F, 0x3D, 0x7D, 0x3B, 0x57, 0x4C}};

// The three selectors of RequestControl. Together they pick one of the
// driver's eight control codes; CUsbPipe maps them onto the USB request type
// bits (see requestTypeBits in UsbPipe.cpp).
enum REQ_TYPE : int { REQ_CLASS = 0, REQ_VENDOR = 1 };
enum DIRECT_TYPE : int { DIRECT_IN = 0, DIRECT_OUT = 1 };
enum DEST_TYPE : int { DEST_DEVICE = 0, DEST_INTERFACE = 1 };

class VESTRA_API CUsbPipe {
public:
    CUsbPipe();
    CUsbPipe(const UsbGuid& guid, uint32_t maximumTransferSize);
    virtual ~CUsbPipe();

    // Not copyable: a copy would share the device handle with its source and
    // both would close it.
    CUsbPipe(const CUsbPipe&) = delete;
    CUsbPipe& operator=(const CUsbPipe&) = delete;

    const UsbGuid& SetGuid(const UsbGuid& guid);
    const UsbGuid& GetCurrentGuid() const;
    const char* GetCompleteDeviceName() const;
    const char* GetCompletePipeName() const;
    uint32_t SetMaximumTransferSize(uint32_t size);  // returns the previous size
    uint32_t GetMaximumTransferSize() const;
    uint32_t GetMaxPacketSize() const;

    // All return nonzero on success, 0 on failure.
    int OpenDevice(const char* path);
    int CloseDevice();
    int OpenPipe(int pipeIndex, int reserved);
    int ClosePipe();

    int WritePipe(const void* data, uint32_t length, uint32_t* written);
    int ReadPipe(void* buffer, uint32_t length, uint32_t* read);
    int TimeoutProc(void* handle);

    int BusReset();
    int ClrFeature(uint16_t pipeIndex);
    int resetPipe(uint16_t pipeIndex);
    int GetConfigDesc(void* buffer, uint16_t size, uint16_t* returned);
    // `buffer` holds at least 512 bytes whatever `size` is.
    int GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, void* buffer, uint16_t size,
                      uint16_t* returned);
    // `buffer` holds at least length + 7 bytes; the caller's data is moved up
    // seven bytes to make room for the request header. A device-to-host
    // request's answer, at most 4 bytes, lands at the start of `buffer`.
    int RequestControl(REQ_TYPE reqType, DIRECT_TYPE directType, DEST_TYPE destType, uint8_t request,
                       uint16_t value, uint16_t index, uint16_t length, void* buffer, uint16_t* returned);

    bool isDeviceOpen() const;
    bool isPipeOpen() const;

protected:
    std::unique_ptr<vestra::usb::UsbDevice> OpenUsbDevice(const char* path);
    std::unique_ptr<vestra::usb::UsbDevice> OpenOneDevice(const char* path);
    void AnalyzeDeviceDescriptor();
    void AnalyzeEndPointDescriptor(int pipeIndex);

private:
    enum class Direction { Write, Read };
    int transfer(Direction direction, uint8_t* data, uint32_t length, uint32_t* moved);
    bool ensureDeviceOpen();
    int resetOpenPipe(uint16_t pipeIndex);

    static constexpr int kNoPipe = -1;
    static constexpr size_t kNameSize = 256;

    UsbGuid guid_{};
    std::unique_ptr<vestra::usb::UsbDevice> device_;
    int pipe_ = kNoPipe;
    char deviceName_[kNameSize] = {};
    char pipeName_[kNameSize] = {};
    uint32_t maximumTransferSize_ = 4096;
    uint32_t maximumPacketSize_ = 512;
    uint32_t timeoutMs_ = 0;
};

namespace vestra::usb {

inline constexpr uint32_t kWriteTimeoutMs = 5000;
inline constexpr uint32_t kReadTimeoutMs = 10000;

// Test hook: replaces the 5000 ms write and 10000 ms read time-outs of every
// CUsbPipe until resetPipeTimeoutsForTesting(). Not exported.
void setPipeTimeoutsForTesting(uint32_t writeMs, uint32_t readMs);
void resetPipeTimeoutsForTesting();

// Endpoint address of pipe 0 (bulk OUT) and pipe 1 (bulk IN); 0 for any other index.
uint8_t endpointAddress(int pipeIndex);

}  // namespace vestra::usb
