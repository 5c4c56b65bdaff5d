// An emulator with its target chip behind the fake USB backend, for the tests
// of the operation layer: it answers every command the layer sends (product
// ID, chip name, firmware text, target info, protection, resets, memory,
// erases), keeps a memory image and records the requests it decoded. Faults:
// one request refused with a status, or silence from one request on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "usb/UsbBackend.h"
#include "usb/tests/FakeUsbBackend.h"

namespace api_testing {

using vestra::usb::testing::Bytes;

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

    explicit ChipEmulator(vestra::usb::testing::FakeUsbDevice& device);

    // Product ID words, word 0 least significant.
    uint32_t productId[4] = {};
    std::string chipName;
    std::string firmware = "1.10";
    bool powerOn = false;              // system resets answer 0001 until removed
    uint32_t blockSize = 0x2000;

    // Read-protects the chip; unlocking takes exactly these words.
    void protectWith(std::vector<uint16_t> securityId);
    // Request number n (1-based, counted from now) of the given kind is
    // answered with `status` instead of being carried out.
    void refuse(Request::Kind kind, uint32_t n, uint16_t status);
    // No answer from request number n of the given kind on (counted from now).
    void fallSilent(Request::Kind kind, uint32_t n);

    const Bytes& memory() const { return memory_; }
    const std::vector<Request>& requests() const { return requests_; }
    std::vector<Request> requests(Request::Kind kind) const;
    void clearRequests() { requests_.clear(); }

private:
    struct Trigger {
        Request::Kind kind;
        uint32_t number;
    };
    std::vector<Bytes> respond(const Bytes& frame);
    Bytes carryOut(const Request& request);
    uint32_t countOf(Request::Kind kind) const;

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

// One bulk transfer seen by RecordingBackend, in the order of all devices.
struct Transfer {
    std::string path;
    int pipe;
    Request request;  // pipe 0 only
};

// Wraps the installed fake backend and logs every bulk transfer of every
// device in one list, so tests can check the order across devices. Installs
// itself for its lifetime; declare it after the FakeUsbBackend.
class RecordingBackend final : public vestra::usb::UsbBackend {
public:
    explicit RecordingBackend(vestra::usb::UsbBackend& inner);
    ~RecordingBackend() override;

    bool enumerate(std::vector<vestra::usb::DeviceEntry>& devices) override;
    std::unique_ptr<vestra::usb::UsbDevice> open(const std::string& path) override;

    std::vector<Transfer>& transfers() { return transfers_; }

private:
    vestra::usb::UsbBackend& inner_;
    std::vector<Transfer> transfers_;
};

}  // namespace api_testing
