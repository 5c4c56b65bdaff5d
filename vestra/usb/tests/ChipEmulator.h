// An emulator with its target chip behind the fake USB backend (library
// target vestra_test_emulator), for the tests of every layer above the link:
// it answers every command those layers send (product ID, chip name, firmware
// text, target info, protection, resets, memory, erases), keeps a memory image
// and records the requests it decoded. Memory accesses beyond the image are
// refused with status 0x6305. Faults: one request refused with a status
// (request number n of one kind or of any kind), or silence from one request
// on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "usb/UsbBackend.h"
#include "usb/tests/FakeUsbBackend.h"

namespace vestra::usb::testing {

struct Request {
    enum class Kind {
        WriteMemory,
        ReadMemory,
        EraseChip,
        EraseBlock,
        Unlock,
        ReadProtect,
        SystemReset,
        RemovePowerOn,
        ProductId,
        ProductId128,
        SetTargetInfo,
        Query,
        Other
    };
    Kind kind = Kind::Other;
    Bytes payload;                 // the request as sent, after the frame header
    uint32_t address = 0;          // memory commands, erase block, set target info
    uint32_t length = 0;           // memory commands
    Bytes data;                    // write memory
    std::vector<uint16_t> words;   // unlock; set target info: P, Q
    uint8_t mode = 0;              // system reset
    uint16_t queryCode = 0;        // information query
};

class ChipEmulator {
public:
    static constexpr uint32_t kMemorySize = 0x20000;

    // `memory` is the chip's image; its size bounds every memory access.
    explicit ChipEmulator(FakeUsbDevice& device, Bytes memory = Bytes(kMemorySize, 0xFF));

    // Product ID words, word 0 least significant.
    uint32_t productId[4] = {};
    std::string chipName;
    std::string firmware = "1.10";
    bool powerOn = false;              // system resets answer 0001 until removed
    uint32_t blockSize = 0x2000;

    // Read-protects the chip; unlocking takes exactly these words.
    void protectWith(std::vector<uint16_t> securityId);
    // Request number n (1-based, counted from now) of the given kind, or of
    // any kind, is answered with `status` instead of being carried out.
    void refuse(Request::Kind kind, uint32_t n, uint16_t status);
    void refuse(uint32_t n, uint16_t status);
    // No answer from request number n of the given kind on (counted from now).
    void fallSilent(Request::Kind kind, uint32_t n);

    const Bytes& memory() const { return memory_; }
    const std::vector<Request>& requests() const { return requests_; }
    std::vector<Request> requests(Request::Kind kind) const;
    // The write and read memory requests, in the order they came.
    std::vector<Request> memoryRequests() const;
    void clearRequests() { requests_.clear(); }

private:
    // Request number `number` of `kind`; no kind: of any kind.
    struct Trigger {
        std::optional<Request::Kind> kind;
        uint32_t number;
    };
    std::vector<Bytes> respond(const Bytes& frame);
    // The just recorded request's number within the trigger's kind, if it is of that kind.
    std::optional<uint32_t> numberFor(const std::optional<Trigger>& trigger, const Request& request) const;
    Bytes carryOut(const Request& request);
    bool holds(uint32_t address, size_t length) const;
    uint32_t countOf(std::optional<Request::Kind> kind) const;

    Bytes memory_;
    std::vector<Request> requests_;
    std::vector<uint16_t> securityId_;
    bool protected_ = false;
    bool silent_ = false;
    std::optional<Trigger> refusal_;
    uint16_t refusalStatus_ = 0;
    std::optional<Trigger> silence_;
};

// Decodes the payload of one request frame.
Request decodeRequest(const Bytes& frame);

// Memory filled with a pattern that differs from block to block and from the
// erased state.
Bytes patternedMemory(uint32_t size);

// Checks two write requests that carry a serial number placed at `offset` in
// the first and running on into the second: the serial number's bytes in
// both, and `fill` right before and right after it.
void expectSerialNumberAcrossTwoWrites(const std::vector<Request>& writes, size_t offset, const Bytes& serial,
                                       uint8_t fill);

// One bulk transfer seen by RecordingBackend, in the order of all devices.
struct Transfer {
    std::string path;
    int pipe;
    Request request;  // pipe 0 only
};

// Wraps the installed fake backend and logs every bulk transfer of every
// device in one list, so tests can check the order across devices. Installs
// itself for its lifetime; declare it after the FakeUsbBackend.
class RecordingBackend final : public UsbBackend {
public:
    explicit RecordingBackend(UsbBackend& inner);
    ~RecordingBackend() override;

    bool enumerate(std::vector<DeviceEntry>& devices) override;
    std::unique_ptr<UsbDevice> open(const std::string& path) override;

    std::vector<Transfer>& transfers() { return transfers_; }

private:
    UsbBackend& inner_;
    std::vector<Transfer> transfers_;
};

}  // namespace vestra::usb::testing
