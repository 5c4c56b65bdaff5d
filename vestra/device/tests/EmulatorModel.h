// A minimal emulator behind the fake USB backend for the device tests: it
// keeps a flat memory image, carries out write, read and block erase, answers
// every other command with status 0, refuses memory accesses beyond its image
// with status 0x6300, and can refuse one request by number.
#pragma once

#include <cstdint>
#include <vector>

#include "usb/tests/FakeUsbBackend.h"

namespace device_testing {

using vestra::usb::testing::Bytes;

// One decoded write or read memory request.
struct MemoryRequest {
    bool write = false;
    uint32_t address = 0;
    uint16_t length = 0;
    Bytes data;  // write only
};

class EmulatorModel {
public:
    EmulatorModel(vestra::usb::testing::FakeUsbDevice& device, uint32_t memorySize);

    Bytes& memory() { return memory_; }
    void setBlockSize(uint32_t blockSize) { blockSize_ = blockSize; }
    // Request number `n` (1-based, counted from now) is answered with `status`.
    void refuseRequest(uint32_t n, uint16_t status);

    // Payloads of every request written so far.
    std::vector<Bytes> requests() const;
    std::vector<MemoryRequest> memoryRequests() const;

private:
    Bytes answer(const Bytes& payload);
    bool holds(uint32_t address, uint32_t length) const;

    vestra::usb::testing::FakeUsbDevice& device_;
    Bytes memory_;
    uint32_t blockSize_ = 0x400;
    uint32_t requestCount_ = 0;
    uint32_t refusedRequest_ = 0;
    uint16_t refusedStatus_ = 0;
};

// Memory filled with a pattern that differs from block to block and from the
// erased state.
Bytes patternedMemory(uint32_t size);

}  // namespace device_testing
